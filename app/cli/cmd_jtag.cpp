// The 'jtag' command: placeholder until its interface's helper provides it.
#include <iostream>

#include "app/cli/commands.h"

namespace dz::cli {

void add_jtag_command(CLI::App& app, Globals& globals) {
  auto* cmd = app.add_subcommand("jtag", "JTAG cable settings (not available yet)");
  cmd->callback([&globals] {
    std::cerr << "jtag: not available yet\n";
    globals.exit_status = exit_failure;
  });
}

}  // namespace dz::cli
