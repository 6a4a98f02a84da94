// The checks of `dividezurirer doctor`. Access to a device node is decided the way the kernel
// decides it for the user: the owner's bits for the owner, else the group's bits for a member,
// else the others' bits; root may use everything.
#include "app/cli/doctor.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>

namespace dz::cli::doctor {

namespace {

constexpr const char* rules_name = "60-dividezurirer.rules";
constexpr unsigned bootme_port = 980;

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream stream(text);
  while (std::getline(stream, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.emplace_back();
  return parts;
}

std::vector<std::string> lines_of(const std::string& path) {
  const auto text = host::read_small_file(path, 1 << 20);
  return text ? split(*text, '\n') : std::vector<std::string>{};
}

bool parse_unsigned(const std::string& text, unsigned& value) {
  if (text.empty() || text.size() > 9) return false;
  unsigned result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<unsigned>(c - '0');
  }
  value = result;
  return true;
}

struct Group {
  std::string name;
  unsigned gid = 0;
  std::vector<std::string> members;
};

// The group file under root: name:password:gid:member,member...
std::vector<Group> read_groups(const std::string& root) {
  std::vector<Group> groups;
  for (const std::string& line : lines_of(root + "/etc/group")) {
    const auto fields = split(line, ':');
    Group group;
    if (fields.size() < 3 || !parse_unsigned(fields[2], group.gid)) continue;
    group.name = fields[0];
    if (fields.size() > 3 && !fields[3].empty()) group.members = split(fields[3], ',');
    groups.push_back(std::move(group));
  }
  return groups;
}

std::string group_name(const std::vector<Group>& groups, unsigned gid) {
  for (const Group& group : groups)
    if (group.gid == gid) return group.name;
  return std::to_string(gid);
}

bool has_gid(const host::Identity& who, unsigned gid) {
  return std::find(who.gids.begin(), who.gids.end(), gid) != who.gids.end();
}

// Listed as a member of the group in the group file (takes effect at the next login).
bool listed_in(const std::vector<Group>& groups, unsigned gid, const std::string& user) {
  for (const Group& group : groups)
    if (group.gid == gid &&
        std::find(group.members.begin(), group.members.end(), user) != group.members.end())
      return true;
  return false;
}

bool may_read_write(const host::FileInfo& file, const host::Identity& who) {
  if (who.uid == 0) return true;
  if (file.uid == who.uid) return (file.mode & 0600u) == 0600u;
  if (has_gid(who, file.gid)) return (file.mode & 0060u) == 0060u;
  return (file.mode & 0006u) == 0006u;
}

std::string describe(const std::string& shown, const host::FileInfo& file,
                     const std::vector<Group>& groups, const std::string& users) {
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", file.mode);
  return shown + " (" + users + ":" + group_name(groups, file.gid) + " " + mode + ")";
}

std::string user_name(const std::string& root, unsigned uid) {
  for (const std::string& line : lines_of(root + "/etc/passwd")) {
    const auto fields = split(line, ':');
    unsigned value = 0;
    if (fields.size() > 2 && parse_unsigned(fields[2], value) && value == uid) return fields[0];
  }
  return std::to_string(uid);
}

// Checks device nodes the user must read and write; fills the finding's details and fixes.
// usual_group is the group such nodes belong to on Debian (lp, dialout).
void check_nodes(const Context& context, const std::vector<std::string>& nodes,
                 const std::string& usual_group, Finding& finding) {
  const auto groups = read_groups(context.root);
  std::vector<std::string> usable, refused;
  std::vector<std::string> fixes;
  auto add_fix = [&](const std::string& fix) {
    if (std::find(fixes.begin(), fixes.end(), fix) == fixes.end()) fixes.push_back(fix);
  };
  for (const std::string& node : nodes) {
    const auto file = host::file_info(context.root + node);
    if (!file) continue;
    const std::string shown = describe(node, *file, groups, user_name(context.root, file->uid));
    if (may_read_write(*file, context.who)) {
      usable.push_back(shown);
      continue;
    }
    refused.push_back(shown);
    const std::string group = group_name(groups, file->gid);
    const bool group_grants = (file->mode & 0060u) == 0060u && file->gid != 0;
    if (!group_grants) {
      add_fix("sudo chgrp " + usual_group + " " + node + " && sudo chmod 0660 " + node +
              "   (until the next boot; a udev rule keeps it)");
      const auto usual = std::find_if(groups.begin(), groups.end(),
                                      [&](const Group& g) { return g.name == usual_group; });
      if (usual == groups.end() || !has_gid(context.who, usual->gid))
        add_fix("sudo usermod -aG " + usual_group + " " + context.who.name +
                "   (then log out and in again)");
    } else if (context.current_session && listed_in(groups, file->gid, context.who.name)) {
      add_fix("log out and in again (or run: newgrp " + group + "): " + context.who.name +
              " is in group " + group + " since this session began");
    } else {
      add_fix("sudo usermod -aG " + group + " " + context.who.name +
              "   (then log out and in again)");
    }
  }
  auto summary = [](const std::vector<std::string>& list) {
    std::string text;
    const std::size_t shown = std::min<std::size_t>(list.size(), 3);
    for (std::size_t i = 0; i < shown; ++i) text += (i ? ", " : "") + list[i];
    if (list.size() > shown) text += " and " + std::to_string(list.size() - shown) + " more";
    return text;
  };
  if (!usable.empty()) finding.details.push_back("usable: " + summary(usable));
  if (!refused.empty())
    finding.details.push_back("not usable by " + context.who.name + ": " + summary(refused));
  finding.ok = refused.empty() && !usable.empty();
  finding.fixes.insert(finding.fixes.end(), fixes.begin(), fixes.end());
}

// /dev entries whose names start with one of the prefixes and go on with a digit.
std::vector<std::string> device_nodes(const std::string& root,
                                      const std::vector<std::string>& prefixes) {
  std::vector<std::string> nodes;
  for (const std::string& name : host::directory_names(root + "/dev"))
    for (const std::string& prefix : prefixes)
      if (name.size() > prefix.size() && name.rfind(prefix, 0) == 0 && name[prefix.size()] >= '0' &&
          name[prefix.size()] <= '9')
        nodes.push_back("/dev/" + name);
  return nodes;
}

bool exists(const std::string& path) {
  return host::file_info(path).has_value();
}

std::string trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The value of KEY=="value" or KEY="value" in a udev rule line ("" when absent).
std::string rule_value(const std::string& line, const std::string& key) {
  std::size_t at = line.find(key);
  while (at != std::string::npos) {
    std::size_t quote = at + key.size();
    while (quote < line.size() && (line[quote] == '=' || line[quote] == ' ')) ++quote;
    if (quote > at + key.size() && quote < line.size() && line[quote] == '"') {
      const std::size_t end = line.find('"', quote + 1);
      if (end != std::string::npos) return line.substr(quote + 1, end - quote - 1);
    }
    at = line.find(key, at + 1);
  }
  return {};
}

struct Rules {
  std::string path;
  std::vector<std::pair<std::string, std::string>> devices;  // vendor and product ids
  std::vector<std::string> groups;
  bool uaccess = false;
};

Rules parse_rules(const std::string& path) {
  Rules rules;
  rules.path = path;
  for (const std::string& raw : lines_of(path)) {
    const std::string line = trim(raw);
    if (line.empty() || line[0] == '#') continue;
    const std::string vendor = rule_value(line, "ATTRS{idVendor}");
    const std::string product = rule_value(line, "ATTRS{idProduct}");
    if (!vendor.empty()) rules.devices.emplace_back(vendor, product);
    const std::string group = rule_value(line, "GROUP");
    if (!group.empty() &&
        std::find(rules.groups.begin(), rules.groups.end(), group) == rules.groups.end())
      rules.groups.push_back(group);
    if (line.find("uaccess") != std::string::npos) rules.uaccess = true;
  }
  return rules;
}

}  // namespace

std::optional<host::Identity> identity_of_user(const std::string& root, const std::string& name) {
  for (const std::string& line : lines_of(root + "/etc/passwd")) {
    const auto fields = split(line, ':');
    host::Identity who;
    unsigned gid = 0;
    if (fields.size() < 4 || fields[0] != name || !parse_unsigned(fields[2], who.uid) ||
        !parse_unsigned(fields[3], gid))
      continue;
    who.name = name;
    who.gids.push_back(gid);
    for (const Group& group : read_groups(root))
      if (group.gid != gid &&
          std::find(group.members.begin(), group.members.end(), name) != group.members.end())
        who.gids.push_back(group.gid);
    return who;
  }
  return std::nullopt;
}

Finding check_parallel_port(const Context& context) {
  Finding finding{"Parallel port (ppdev, group lp)", false, {}, {}};
  const auto nodes = device_nodes(context.root, {"parport"});
  if (nodes.empty()) {
    if (exists(context.root + "/sys/module/ppdev")) {
      finding.details.push_back(
          "ppdev is loaded but there is no /dev/parportN: the kernel knows no parallel port");
      finding.fixes.push_back(
          "sudo modprobe parport_pc   (for a port on the main board or a PCI card)");
    } else {
      finding.details.push_back("no /dev/parportN: the ppdev module is not loaded");
      finding.fixes.push_back(
          "sudo modprobe ppdev   (and at every boot: echo ppdev | sudo tee "
          "/etc/modules-load.d/dividezurirer.conf)");
    }
    return finding;
  }
  check_nodes(context, nodes, "lp", finding);
  return finding;
}

Finding check_serial_ports(const Context& context) {
  Finding finding{"Serial ports (group dialout)", false, {}, {}};
  const auto nodes = device_nodes(context.root, {"ttyS", "ttyUSB", "ttyACM"});
  if (nodes.empty()) {
    finding.details.push_back("no /dev/ttyS*, /dev/ttyUSB* or /dev/ttyACM*");
    finding.fixes.push_back("connect a serial port or a USB serial adapter");
    return finding;
  }
  check_nodes(context, nodes, "dialout", finding);
  return finding;
}

Finding check_usb_adapters(const Context& context) {
  Finding finding{"USB adapters (udev rule " + std::string(rules_name) + ")", false, {}, {}};
  std::optional<Rules> rules;
  for (const char* dir :
       {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"}) {
    const std::string path = context.root + dir + "/" + rules_name;
    if (exists(path)) {
      rules = parse_rules(path);
      finding.details.push_back("rules: " + std::string(dir) + "/" + rules_name);
      break;
    }
  }
  if (!rules) {
    if (!context.rules_file.empty() && exists(context.rules_file)) {
      finding.details.push_back("udev does not read the installed copy " + context.rules_file);
      finding.fixes.push_back("sudo install -m 0644 " + context.rules_file +
                              " /etc/udev/rules.d/ && sudo udevadm control --reload-rules && "
                              "sudo udevadm trigger --subsystem-match=usb");
    } else {
      finding.details.push_back("the rules are not installed");
      finding.fixes.push_back(
          "install the dividezurirer package (or run cmake --install as "
          "root with --prefix /usr)");
    }
    return finding;
  }
  finding.ok = true;
  const auto groups = read_groups(context.root);
  for (const std::string& name : rules->groups) {
    const auto group =
        std::find_if(groups.begin(), groups.end(), [&](const Group& g) { return g.name == name; });
    if (context.who.uid == 0) continue;
    if (group != groups.end() && has_gid(context.who, group->gid)) {
      finding.details.push_back(context.who.name + " is in group " + name);
      continue;
    }
    finding.ok = false;
    if (group == groups.end()) {
      finding.details.push_back("the rules give the adapters to group " + name +
                                ", which does not exist");
      finding.fixes.push_back("sudo groupadd --system " + name + " && sudo usermod -aG " + name +
                              " " + context.who.name + "   (then log out and in again)");
    } else if (context.current_session && listed_in(groups, group->gid, context.who.name)) {
      finding.fixes.push_back("log out and in again (or run: newgrp " + name +
                              "): " + context.who.name + " is in group " + name +
                              " since this session began");
    } else {
      finding.details.push_back("the rules give the adapters to group " + name);
      finding.fixes.push_back("sudo usermod -aG " + name + " " + context.who.name +
                              "   (then log out and in again)");
    }
  }
  if (rules->uaccess) finding.details.push_back("the user at the seat gets the adapters (uaccess)");
  // Adapters plugged in now that the rules name: their device nodes.
  const std::string usb = context.root + "/sys/bus/usb/devices/";
  for (const std::string& device : host::directory_names(usb)) {
    const auto vendor = host::read_small_file(usb + device + "/idVendor", 16);
    const auto product = host::read_small_file(usb + device + "/idProduct", 16);
    if (!vendor || !product) continue;
    const bool named =
        std::any_of(rules->devices.begin(), rules->devices.end(), [&](const auto& ids) {
          return ids.first == trim(*vendor) && (ids.second.empty() || ids.second == trim(*product));
        });
    unsigned bus = 0, number = 0;
    const auto bus_text = host::read_small_file(usb + device + "/busnum", 16);
    const auto number_text = host::read_small_file(usb + device + "/devnum", 16);
    if (!named || !bus_text || !number_text || !parse_unsigned(trim(*bus_text), bus) ||
        !parse_unsigned(trim(*number_text), number) || bus > 999 || number > 999)
      continue;
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", bus, number);
    const auto file = host::file_info(context.root + node);
    const std::string ids = trim(*vendor) + ":" + trim(*product);
    if (file && may_read_write(*file, context.who)) {
      finding.details.push_back("adapter " + ids + " at " + node + " is usable");
    } else if (file) {
      finding.ok = false;
      finding.details.push_back("adapter " + ids + " at " + node + " is not usable by " +
                                context.who.name);
      finding.fixes.push_back(
          "sudo udevadm trigger --subsystem-match=usb   (or plug the "
          "adapter in again)");
    }
  }
  if (finding.ok && finding.details.size() == 1 && context.who.uid == 0)
    finding.details.push_back("root may use every adapter");
  return finding;
}

Finding check_bootme_port(const Context& context) {
  Finding finding{"UDP port 980 for BOOTME", true, {}, {}};
  const auto start_text =
      host::read_small_file(context.root + "/proc/sys/net/ipv4/ip_unprivileged_port_start", 32);
  unsigned start = 1024;
  const bool start_known = start_text && parse_unsigned(trim(*start_text), start);
  if (context.who.uid == 0) {
    finding.details.push_back("root may bind port 980");
  } else if (context.who.can_bind_low_ports) {
    finding.details.push_back(context.current_session
                                  ? "this process has cap_net_bind_service"
                                  : context.program + " carries cap_net_bind_service");
  } else if (start_known && start <= bootme_port) {
    finding.details.push_back("net.ipv4.ip_unprivileged_port_start is " + std::to_string(start));
  } else {
    finding.ok = false;
    finding.details.push_back("ports below " + std::to_string(start) + " need a privilege");
    const std::string program =
        context.program.empty() ? "/usr/bin/dividezurirer" : context.program;
    finding.fixes.push_back("sudo setcap cap_net_bind_service=+ep " + program +
                            "   (this program only)");
    finding.fixes.push_back(
        "or: sudo sysctl -w net.ipv4.ip_unprivileged_port_start=980   (every "
        "program; keep it in /etc/sysctl.d/)");
  }
  return finding;
}

std::vector<Finding> check_all(const Context& context) {
  return {check_parallel_port(context), check_serial_ports(context), check_usb_adapters(context),
          check_bootme_port(context)};
}

std::string report(const Context& context, const std::vector<Finding>& findings) {
  std::string text =
      "Checked for user " + context.who.name + " (uid " + std::to_string(context.who.uid) + ")";
  if (context.who.uid == 0)
    text +=
        "; root may use everything: run this as the user who will use the loader, or give "
        "--user NAME";
  text += "\n";
  for (const Finding& finding : findings) {
    text += finding.title + ": " + (finding.ok ? "OK" : "NOT READY") + "\n";
    for (const std::string& detail : finding.details) text += "  " + detail + "\n";
    for (const std::string& fix : finding.fixes) text += "  fix: " + fix + "\n";
  }
  return text;
}

}  // namespace dz::cli::doctor
