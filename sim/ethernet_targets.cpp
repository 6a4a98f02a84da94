// Simulated Ethernet modules for --target sim:ethernet-module[,key=value...].
#include <charconv>
#include <fstream>

#include "sim/ethernet_module.h"
#include "sim/targets.h"

namespace dz::sim {
namespace {

bool parse_number(const std::string& text, std::uint64_t& value, int base = 10) {
  std::string_view t(text);
  if (base == 16 && t.starts_with("0x")) t.remove_prefix(2);
  if (t.empty()) return false;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value, base);
  return ec == std::errc() && end == t.data() + t.size();
}

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

std::unique_ptr<Session> attach_module(const TargetOptions& options, std::string& error) {
  EthernetModuleConfig c;
  std::string store;
  for (const auto& [key, value] : options) {
    std::uint64_t n = 0;
    bool ok = true;
    if (key == "name") {
      ok = !value.empty() && value.size() <= 16;
      c.name = value;
    } else if (key == "platform") {
      ok = value.size() <= 16;
      c.platform_id = value;
    } else if (key == "mac") {
      ok = parse_mac(value, c.mac);
    } else if (key == "ip") {
      ok = parse_ip(value, c.ip);
    } else if (key == "cpu") {
      ok = parse_number(value, n, 16) && n <= 255;
      c.cpu_id = static_cast<std::uint8_t>(n);
    } else if (key == "version") {
      auto dot = value.find('.');
      std::uint64_t minor = 0;
      ok = dot != std::string::npos && parse_number(value.substr(0, dot), n) && n <= 255 &&
           parse_number(value.substr(dot + 1), minor) && minor <= 255;
      c.version_major = static_cast<std::uint8_t>(n);
      c.version_minor = static_cast<std::uint8_t>(minor);
    } else if (key == "bootme-version") {
      ok = parse_number(value, n) && n <= 255;
      c.bootme_version = static_cast<std::uint8_t>(n);
    } else if (key == "flags") {
      ok = parse_number(value, n) && n <= 0xFFFFFFFF;
      c.boot_flags = static_cast<std::uint32_t>(n);
    } else if (key == "reply") {
      if (value == "module")
        c.start_reply = StartReply::module_oack;
      else if (value == "plain")
        c.start_reply = StartReply::plain_ack;
      else if (value == "rfc2347")
        c.start_reply = StartReply::rfc_oack;
      else if (value == "none")
        c.start_reply = StartReply::none;
      else
        ok = false;
    } else if (key == "drop") {
      ok = parse_share(value, c.drop_data);
    } else if (key == "dup") {
      ok = parse_share(value, c.dup_data);
    } else if (key == "drop-ack") {
      ok = parse_share(value, c.drop_ack);
    } else if (key == "dup-ack") {
      ok = parse_share(value, c.dup_ack);
    } else if (key == "wrong-ack") {
      ok = parse_number(value, n) && n <= 65535;
      c.wrong_ack_block = static_cast<int>(n);
    } else if (key == "wrong-final-ack") {
      ok = value == "on" || value == "off";
      c.wrong_final_ack = value == "on";
    } else if (key == "drop-acks-from") {
      ok = parse_number(value, n) && n <= 65535;
      c.drop_acks_from = static_cast<int>(n);
    } else if (key == "drop-final-ack") {
      ok = value == "on" || value == "off";
      c.drop_final_ack = value == "on";
    } else if (key == "stray-ack") {
      // AFTER:BLOCK
      auto colon = value.find(':');
      std::uint64_t block = 0;
      ok = colon != std::string::npos && parse_number(value.substr(0, colon), n) && n <= 65535 &&
           parse_number(value.substr(colon + 1), block) && block <= 65535;
      c.stray_ack_after = static_cast<int>(n);
      c.stray_ack_block = static_cast<int>(block);
    } else if (key == "jump") {
      ok = value == "on" || value == "off";
      c.answer_jump = value == "on";
    } else if (key == "latency") {
      ok = parse_number(value, n) && n <= 1000000;
      c.latency_us = static_cast<std::uint32_t>(n);
    } else if (key == "seed") {
      ok = parse_number(value, n) && n <= 0xFFFFFFFF;
      c.seed = static_cast<std::uint32_t>(n);
    } else if (key == "store") {
      store = value;
    } else {
      error = "sim:ethernet-module has no option '" + key +
              "' (name, platform, mac, ip, cpu, version, bootme-version, flags, reply, drop, "
              "dup, drop-ack, dup-ack, wrong-ack, wrong-final-ack, drop-acks-from, drop-final-ack, "
              "stray-ack, jump, latency, seed, store)";
      return nullptr;
    }
    if (!ok) {
      error = "sim:ethernet-module: bad value '" + value + "' for " + key;
      return nullptr;
    }
  }
  // The loader listens on 980 only when the tests have not moved it; a user without the right
  // to bind 980 gets a free port, shared with the module here.
  std::uint16_t loader = udp::bootme_listen_port();
  if (loader == udp::edbg_port) loader = free_port();
  if (loader == 0) {
    error = "sim:ethernet-module: no free loopback port for the loader";
    return nullptr;
  }
  c.loader_port = loader;
  auto session = std::make_unique<EthernetSession>(c, store);
  if (!session->module().start(error)) return nullptr;
  udp::set_edbg_ports(loader, session->module().port());
  return session;
}

constexpr TargetModel models[] = {
    {"ethernet-module", "ethernet",
     "Ethernet module on loopback: BOOTME, TFTP server, jump (options: name=, mac=, ip=, "
     "platform=, cpu=, version=, reply=module|plain|rfc2347|none, drop=%, dup=%, drop-ack=%, "
     "dup-ack=%, wrong-ack=BLOCK, wrong-final-ack=on|off, drop-acks-from=BLOCK, "
     "drop-final-ack=on|off, stray-ack=AFTER:BLOCK, jump=on|off, latency=US, store=FILE)",
     attach_module},
};

}  // namespace

std::span<const TargetModel> ethernet_target_models() {
  return models;
}

}  // namespace dz::sim
