// dividezurirer: the loader's command line. Each command opens the main window on the headless
// dialog host and acts in it as a person would.
#include <iostream>

#include "app/cli/commands.h"
#include "platform/ui.h"

int main(int argc, char** argv) {
  using namespace dz::cli;
  Globals globals;
  CLI::App app{
      "Quintar Loader command line: writes bootloaders and OS images into the flash of PXA "
      "modules over JTAG, serial or Ethernet.",
      "dividezurirer"};
  app.require_subcommand(1);
  app.fallthrough();  // global options may also follow the command

  auto* yes_flag =
      app.add_flag("--yes", globals.yes, "Answer Yes to questions when not interactive");
  app.add_flag("--no", globals.no, "Answer No to questions when not interactive")
      ->excludes(yes_flag);
  app.add_flag("-v,--verbose", globals.verbose, "Show the debug lines");
  app.add_option("--target", globals.target,
                 "Use a simulated module instead of hardware: sim:MODEL[,key=value...]");
  app.add_option("--port", globals.port,
                 "Parallel port for this run only: /dev/parportN, or remote:HOST:PORT for a "
                 "remote_bitbang server such as dividezurirer-sim (the jtag command's own --port "
                 "keeps a port in the settings instead)");
  app.add_option("--settings", globals.settings_file,
                 "Settings file (default $DIVIDEZURIRER_SETTINGS, else "
                 "$XDG_CONFIG_HOME/DividezUrirer/settings.toml)");
  app.footer(
      "Questions are asked on the terminal; otherwise --yes or --no answers them, and without\n"
      "either the answer that loses nothing is given (No, Cancel).\n"
      "Ctrl-C during detection or a download presses Abort; a second Ctrl-C ends at once.\n"
      "The connection help topics are HTML Help, which exists only on Windows: here the help\n"
      "command of the detection dialog does nothing visible.\n"
      "Examples:\n"
      "  dividezurirer info nk.bin\n"
      "  dividezurirer options --fix-ip 192.168.1.50\n"
      "  dividezurirer image nk.bin --via ethernet\n"
      "  dividezurirer --target sim:MODEL bootloader eboot.bin --verify\n"
      "  dividezurirer --port remote:127.0.0.1:3335 bootloader eboot.bin\n"
      "Exit status: 0 success, 1 failure, 2 usage, 3 aborted.");

  add_info_command(app, globals);
  add_bootloader_command(app, globals);
  add_image_command(app, globals);
  add_options_command(app, globals);
  add_jtag_command(app, globals);
  add_serial_command(app, globals);
  add_devices_command(app, globals);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? exit_success : exit_usage;
  }
  return globals.exit_status;
}
