// The 'doctor' command: says whether this user may use the parallel port, the serial ports, the
// USB adapters and UDP port 980 (BOOTME) without root, and for each that is not ready the exact
// command that makes it so.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "app/cli/commands.h"
#include "app/cli/doctor.h"
#include "platform/host_access.h"

#ifndef DZ_UDEV_RULES_FROM_BIN
#define DZ_UDEV_RULES_FROM_BIN "../lib/udev/rules.d"
#endif

namespace dz::cli {

namespace {

struct DoctorOptions {
  std::string user;
};

// The installation's copy of the udev rules, found from the program's own folder.
std::string installed_rules(const std::string& program) {
  const auto slash = program.rfind('/');
  if (slash == std::string::npos) return {};
  const std::filesystem::path rules =
      program.substr(0, slash + 1) + DZ_UDEV_RULES_FROM_BIN + "/60-dividezurirer.rules";
  return rules.lexically_normal().string();
}

int run_doctor(const DoctorOptions& options) {
  doctor::Context context;
  context.program = host::executable_path();
  context.rules_file = installed_rules(context.program);
  if (options.user.empty()) {
    context.who = host::current_identity();
  } else {
    auto who = doctor::identity_of_user(context.root, options.user);
    if (!who) {
      std::fprintf(stderr, "dividezurirer: no user '%s' in /etc/passwd\n", options.user.c_str());
      return exit_usage;
    }
    // A program file's capability is given to whoever runs it.
    who->can_bind_low_ports = host::file_has_bind_capability(context.program);
    context.who = *who;
    context.current_session = false;
  }
  const auto findings = doctor::check_all(context);
  std::fputs(doctor::report(context, findings).c_str(), stdout);
  for (const auto& finding : findings)
    if (!finding.ok) return exit_failure;
  return exit_success;
}

}  // namespace

void add_doctor_command(CLI::App& app, Globals& globals) {
  auto options = std::make_shared<DoctorOptions>();
  auto* doctor = app.add_subcommand(
      "doctor", "Check that this user may use the ports and adapters without root");
  doctor->add_option("--user", options->user,
                     "Check for this user (as after their next login) instead of the caller");
  doctor->footer(
      "Checks the parallel port (/dev/parportN, ppdev, group lp), the serial ports (group\n"
      "dialout), the USB adapters (the udev rule 60-dividezurirer.rules) and UDP port 980 for\n"
      "BOOTME (cap_net_bind_service or net.ipv4.ip_unprivileged_port_start). Each is reported as\n"
      "OK or NOT READY with the command that fixes it.\n"
      "Exit status: 0 when everything is ready, 1 otherwise.");
  doctor->callback([options, &globals] { globals.exit_status = run_doctor(*options); });
}

}  // namespace dz::cli
