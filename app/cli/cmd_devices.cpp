// The 'devices' command: placeholder until its interface's helper provides it.
#include <iostream>

#include "app/cli/commands.h"

namespace dz::cli {

void add_devices_command(CLI::App& app, Globals& globals) {
  auto* cmd = app.add_subcommand("devices", "Ethernet device list (not available yet)");
  cmd->callback([&globals] {
    std::cerr << "devices: not available yet\n";
    globals.exit_status = exit_failure;
  });
}

}  // namespace dz::cli
