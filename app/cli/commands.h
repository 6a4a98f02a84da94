#pragma once
// The command line's commands. Each command is added to the CLI11 application by one function;
// the jtag, serial and devices commands live in their own files (cmd_jtag.cpp, cmd_serial.cpp,
// cmd_devices.cpp) so the helpers owning those interfaces can grow them independently.
#include <CLI/CLI.hpp>
#include <string>

namespace dz::cli {

// Exit statuses of the program.
inline constexpr int exit_success = 0;
inline constexpr int exit_failure = 1;
inline constexpr int exit_usage = 2;
inline constexpr int exit_aborted = 3;
inline constexpr int exit_interrupted = 130;  // a second Ctrl-C

// Options given before (or after) any command.
struct Globals {
  bool yes = false;                // --yes: answer Yes (OK) to questions when not interactive
  bool no = false;                 // --no: answer No (Cancel); without either, ask on a terminal,
                                   // else give the answer that loses nothing
  bool verbose = false;            // -v: debug lines on standard output
  std::string target;              // --target sim:MODEL[,key=value...]
  std::string settings_file;       // --settings FILE
  std::string port;                // --port: parallel port for this run only (not saved)
  int exit_status = exit_success;  // set by the command that ran
};

// Each adds one subcommand; its callback stores the exit status in globals.exit_status.
void add_info_command(CLI::App& app, Globals& globals);
void add_bootloader_command(CLI::App& app, Globals& globals);
void add_image_command(CLI::App& app, Globals& globals);
void add_options_command(CLI::App& app, Globals& globals);
void add_jtag_command(CLI::App& app, Globals& globals);
void add_serial_command(CLI::App& app, Globals& globals);
void add_devices_command(CLI::App& app, Globals& globals);
void add_help_command(CLI::App& app, Globals& globals);
void add_doctor_command(CLI::App& app, Globals& globals);
void add_test_command(CLI::App& app, Globals& globals);  // test (and -test), cmd_test.cpp
void add_bbt_command(CLI::App& app, Globals& globals);

}  // namespace dz::cli
