// dividezurirer: the loader's command line. Each command opens the main window on the headless
// dialog host and acts in it as a person would.
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include "app/cli/commands.h"
#include "app/cli/questions.h"
#include "platform/ui.h"
#include "sim/targets.h"

namespace {

// The simulated modules, one per line, for --help.
std::string simulated_models_help() {
  std::string text;
  for (const auto& model : dz::sim::all_target_models())
    text +=
        std::string("  ") + model.name + " (" + model.interface + "): " + model.description + "\n";
  return text.empty() ? "  (none are built in)\n" : text;
}

// The first word that is not a global option or its value: the command the user named. Empty
// when an option that is not global comes first (its value cannot be told from a command).
std::string named_command(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--target" || arg == "--port" || arg == "--settings") {
      ++i;  // its value follows
      continue;
    }
    if (arg == "--yes" || arg == "--no" || arg == "-v" || arg == "--verbose" || arg == "-h" ||
        arg == "--help" || arg.starts_with("--target=") || arg.starts_with("--port=") ||
        arg.starts_with("--settings="))
      continue;
    if (!arg.empty() && arg[0] == '-') return {};
    return std::string(arg);
  }
  return {};
}

// The options that apply to every command.
void add_global_options(CLI::App& app, dz::cli::Globals& globals) {
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
}

// The closing text of --help: questions, Ctrl-C, help topics, simulated modules, examples.
std::string global_footer() {
  return "Questions are asked on the terminal; otherwise --yes or --no answers them, and without\n"
         "either each question gets the answer that loses nothing:\n" +
         dz::cli::question_defaults_help() +
         "Ctrl-C during detection or a download presses Abort; a second Ctrl-C ends at once (a\n"
         "simulated module still keeps what its flash holds in its flash file).\n"
         "The connection help topics are HTML Help, which exists only on Windows: here the help\n"
         "command of the detection dialog does nothing visible; 'dividezurirer help' shows where\n"
         "the same pages are and 'help --open' opens them in the browser.\n"
         "Simulated modules (--target sim:MODEL[,flash=FILE] for JTAG models):\n" +
         simulated_models_help() +
         "Examples:\n"
         "  dividezurirer info nk.bin\n"
         "  dividezurirer options --fix-ip 192.168.1.50\n"
         "  dividezurirer image nk.bin --via ethernet\n"
         "  dividezurirer --target sim:pxa270-j3x16 bootloader eboot.bin --verify\n"
         "  dividezurirer jtag --adapter belvona    (a parallel cable, for the next one)\n"
         "  dividezurirer --port remote:127.0.0.1:3335 bootloader eboot.bin\n"
         "  dividezurirer --target sim:production-pxa270 test    (eboot.bin, nk.bin here)\n"
         "Exit status: 0 success, 1 failure, 2 usage, 3 aborted, 130 ended by a second Ctrl-C.";
}

void add_commands(CLI::App& app, dz::cli::Globals& globals) {
  using namespace dz::cli;
  add_info_command(app, globals);
  add_bootloader_command(app, globals);
  add_image_command(app, globals);
  add_options_command(app, globals);
  add_jtag_command(app, globals);
  add_serial_command(app, globals);
  add_devices_command(app, globals);
  add_help_command(app, globals);
  add_doctor_command(app, globals);
  add_test_command(app, globals);
  add_bbt_command(app, globals);
}

// CLI11 would only say that an argument was not expected; name the command instead. True when
// the user named a command that does not exist (and was told so).
bool refuse_unknown_command(CLI::App& app, int argc, char** argv) {
  const std::string command = named_command(argc, argv);
  const auto known = app.get_subcommands([&](CLI::App* sub) { return sub->get_name() == command; });
  if (command.empty() || !known.empty()) return false;
  std::fprintf(stderr,
               "dividezurirer: unknown command '%s'; the commands are info, bootloader, image, "
               "options, jtag, serial, devices, test, bbt, help and doctor (see --help).\n",
               command.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dz::cli;
  // "-test", the Windows program's production test switch, is the test command here.
  std::string test_word = "test";
  for (int i = 1; i < argc; ++i)
    if (std::string_view(argv[i]) == "-test") argv[i] = test_word.data();
  Globals globals;
  CLI::App app{
      "Quintar Loader command line: writes bootloaders and OS images into the flash of PXA "
      "modules over JTAG, serial or Ethernet.",
      "dividezurirer"};
  app.require_subcommand(1);
  app.fallthrough();  // global options may also follow the command
  add_global_options(app, globals);
  app.footer(global_footer());
  add_commands(app, globals);
  if (refuse_unknown_command(app, argc, argv)) return exit_usage;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? exit_success : exit_usage;
  }
  return globals.exit_status;
}
