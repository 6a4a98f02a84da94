// Simulated Ethernet modules for --target sim:ethernet-module[,key=value...].
#include <algorithm>
#include <fstream>

#include "sim/ethernet_module.h"
#include "sim/targets.h"

namespace dz::sim {
namespace {

bool parse_share(const std::string& text, double& share) {
  // A percentage ("10" or "10%") or a fraction below 1 ("0.1").
  std::string t = text;
  if (!t.empty() && t.back() == '%') t.pop_back();
  char* end = nullptr;
  double v = std::strtod(t.c_str(), &end);
  if (t.empty() || end != t.c_str() + t.size() || v < 0 || v > 100) return false;
  share = v >= 1 ? v / 100 : v;
  return true;
}

bool parse_mac(const std::string& text, std::array<std::uint8_t, 6>& mac) {
  if (text.size() != 17) return false;
  for (int i = 0; i < 6; ++i) {
    std::uint64_t v = 0;
    if (i < 5 && text[i * 3 + 2] != ':') return false;
    if (!parse_number(text.substr(i * 3, 2), v, 16)) return false;
    mac[i] = static_cast<std::uint8_t>(v);
  }
  return true;
}

bool parse_ip(const std::string& text, std::uint32_t& ip) {
  std::uint32_t out = 0;
  std::size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    std::size_t dot = i < 3 ? text.find('.', pos) : text.size();
    std::uint64_t v = 0;
    if (dot == std::string::npos || !parse_number(text.substr(pos, dot - pos), v) || v > 255)
      return false;
    out = (out << 8) | static_cast<std::uint32_t>(v);
    pos = dot + 1;
  }
  ip = out;
  return true;
}

class EthernetSession : public Session {
 public:
  EthernetSession(EthernetModuleConfig config, std::string store)
      : module_(std::move(config)), store_(std::move(store)) {}
  ~EthernetSession() override {
    module_.stop();
    udp::set_edbg_ports(0, 0);
    if (!store_.empty() && module_.write_requests() > 0) {
      auto file = module_.received_file();
      std::ofstream out(store_, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(file.data()),
                static_cast<std::streamsize>(file.size()));
    }
  }
  EthernetModule& module() { return module_; }

 private:
  EthernetModule module_;
  std::string store_;
};

// A free loopback port for the loader's BOOTME socket (users without the right to bind 980).
std::uint16_t free_port() {
  udp::Socket s = udp::Socket::create();
  if (!s || !s.bind(udp::Address{udp::loopback_ip, 0})) return 0;
  return s.local_address().port;
}

bool parse_on_off(const std::string& text, bool& flag) {
  if (text != "on" && text != "off") return false;
  flag = text == "on";
  return true;
}

// "MAJOR.MINOR", each 0..255.
bool parse_version(const std::string& text, EthernetModuleConfig& c) {
  const auto dot = text.find('.');
  return dot != std::string::npos && parse_bounded(text.substr(0, dot), c.version_major, 255) &&
         parse_bounded(text.substr(dot + 1), c.version_minor, 255);
}

bool parse_reply(const std::string& text, StartReply& reply) {
  constexpr std::pair<const char*, StartReply> replies[] = {{"module", StartReply::module_oack},
                                                            {"plain", StartReply::plain_ack},
                                                            {"rfc2347", StartReply::rfc_oack},
                                                            {"none", StartReply::none}};
  for (const auto& [name, value] : replies)
    if (text == name) {
      reply = value;
      return true;
    }
  return false;
}

// "AFTER:BLOCK", each a block number.
bool parse_stray_ack(const std::string& text, EthernetModuleConfig& c) {
  const auto colon = text.find(':');
  return colon != std::string::npos &&
         parse_bounded(text.substr(0, colon), c.stray_ack_after, 65535) &&
         parse_bounded(text.substr(colon + 1), c.stray_ack_block, 65535);
}

// One option of the module: its key and how its value sets the configuration (false: bad value).
struct ConfigOption {
  const char* key;
  bool (*apply)(const std::string& value, EthernetModuleConfig& c);
};

using Config = EthernetModuleConfig;
constexpr ConfigOption config_options[] = {
    {"name",
     [](const std::string& v, Config& c) {
       c.name = v;
       return !v.empty() && v.size() <= 16;
     }},
    {"platform",
     [](const std::string& v, Config& c) {
       c.platform_id = v;
       return v.size() <= 16;
     }},
    {"mac", [](const std::string& v, Config& c) { return parse_mac(v, c.mac); }},
    {"ip", [](const std::string& v, Config& c) { return parse_ip(v, c.ip); }},
    {"cpu", [](const std::string& v, Config& c) { return parse_bounded(v, c.cpu_id, 255, 16); }},
    {"version", parse_version},
    {"bootme-version",
     [](const std::string& v, Config& c) { return parse_bounded(v, c.bootme_version, 255); }},
    {"flags",
     [](const std::string& v, Config& c) { return parse_bounded(v, c.boot_flags, 0xFFFFFFFF); }},
    {"reply", [](const std::string& v, Config& c) { return parse_reply(v, c.start_reply); }},
    {"drop", [](const std::string& v, Config& c) { return parse_share(v, c.drop_data); }},
    {"dup", [](const std::string& v, Config& c) { return parse_share(v, c.dup_data); }},
    {"drop-ack", [](const std::string& v, Config& c) { return parse_share(v, c.drop_ack); }},
    {"dup-ack", [](const std::string& v, Config& c) { return parse_share(v, c.dup_ack); }},
    {"wrong-ack",
     [](const std::string& v, Config& c) { return parse_bounded(v, c.wrong_ack_block, 65535); }},
    {"wrong-final-ack",
     [](const std::string& v, Config& c) { return parse_on_off(v, c.wrong_final_ack); }},
    {"drop-acks-from",
     [](const std::string& v, Config& c) { return parse_bounded(v, c.drop_acks_from, 65535); }},
    {"drop-final-ack",
     [](const std::string& v, Config& c) { return parse_on_off(v, c.drop_final_ack); }},
    {"stray-ack", parse_stray_ack},
    {"jump", [](const std::string& v, Config& c) { return parse_on_off(v, c.answer_jump); }},
    {"reset-after-jump",
     [](const std::string& v, Config& c) { return parse_on_off(v, c.reset_after_jump); }},
    {"latency",
     [](const std::string& v, Config& c) { return parse_bounded(v, c.latency_us, 1000000); }},
    {"seed", [](const std::string& v, Config& c) { return parse_bounded(v, c.seed, 0xFFFFFFFF); }},
};

// Applies the target's options to `c` (store=FILE goes to `store`); false with `error` on an
// unknown option or a bad value.
bool apply_options(const TargetOptions& options, EthernetModuleConfig& c, std::string& store,
                   std::string& error) {
  for (const auto& entry : options) {
    const std::string& key = entry.first;
    const std::string& value = entry.second;
    if (key == "store") {
      store = value;
      c.store = value;
      continue;
    }
    const auto* option =
        std::find_if(std::begin(config_options), std::end(config_options),
                     [&key](const ConfigOption& known) { return key == known.key; });
    if (option == std::end(config_options)) {
      error = "sim:ethernet-module has no option '" + key +
              "' (name, platform, mac, ip, cpu, version, bootme-version, flags, reply, drop, "
              "dup, drop-ack, dup-ack, wrong-ack, wrong-final-ack, drop-acks-from, drop-final-ack, "
              "stray-ack, jump, reset-after-jump, latency, seed, store)";
      return false;
    }
    if (!option->apply(value, c)) {
      error = "sim:ethernet-module: bad value '" + value + "' for " + key;
      return false;
    }
  }
  return true;
}

// The loader listens on 980 only when the tests have not moved it; a user without the right to
// bind 980 gets a free port, shared with the module here. 0 with `error` when there is none.
std::uint16_t loader_port(std::string& error) {
  std::uint16_t loader = udp::bootme_listen_port();
  if (loader == udp::edbg_port) loader = free_port();
  if (loader == 0) error = "sim:ethernet-module: no free loopback port for the loader";
  return loader;
}

std::unique_ptr<Session> attach_module(const TargetOptions& options, std::string& error) {
  EthernetModuleConfig c;
  std::string store;
  if (!apply_options(options, c, store, error)) return nullptr;
  c.loader_port = loader_port(error);
  if (c.loader_port == 0) return nullptr;
  auto session = std::make_unique<EthernetSession>(c, store);
  if (!session->module().start(error)) return nullptr;
  udp::set_edbg_ports(c.loader_port, session->module().port());
  return session;
}

constexpr TargetModel models[] = {
    {"ethernet-module", "ethernet",
     "Ethernet module on loopback: BOOTME, TFTP server, jump (options: name=, mac=, ip=, "
     "platform=, cpu=, version=, reply=module|plain|rfc2347|none, drop=%, dup=%, drop-ack=%, "
     "dup-ack=%, wrong-ack=BLOCK, wrong-final-ack=on|off, drop-acks-from=BLOCK, "
     "drop-final-ack=on|off, stray-ack=AFTER:BLOCK, jump=on|off, reset-after-jump=on|off, "
     "latency=US, store=FILE)",
     attach_module},
};

}  // namespace

std::span<const TargetModel> ethernet_target_models() {
  return models;
}

}  // namespace dz::sim
