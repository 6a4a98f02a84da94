#pragma once
// The checks of `dividezurirer doctor`: may this user reach the parallel port, the serial ports,
// the USB adapters and UDP port 980 without root? Each check reads the host's real files under a
// root folder ("" for this machine), so it can also be pointed at a scratch tree.
#include <optional>
#include <string>
#include <vector>

#include "platform/host_access.h"

namespace dz::cli::doctor {

struct Finding {
  std::string title;
  bool ok = false;
  std::vector<std::string> details;  // what was found
  std::vector<std::string> fixes;    // the exact commands (or steps) that make it OK
};

struct Context {
  std::string root;             // prefixed to every system path; "" is this machine
  host::Identity who;           // the user the checks are made for
  bool current_session = true;  // who is this process (its groups are the session's)
  std::string program;          // the installed dividezurirer (for setcap)
  std::string rules_file;       // the installation's copy of the udev rules, if known
};

// The user NAME as the password and group files under root describe a fresh login of theirs.
std::optional<host::Identity> identity_of_user(const std::string& root, const std::string& name);

Finding check_parallel_port(const Context& context);
Finding check_serial_ports(const Context& context);
Finding check_usb_adapters(const Context& context);
Finding check_bootme_port(const Context& context);
std::vector<Finding> check_all(const Context& context);

// The report as printed, one check after another.
std::string report(const Context& context, const std::vector<Finding>& findings);

}  // namespace dz::cli::doctor
