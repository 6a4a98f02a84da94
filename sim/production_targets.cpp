// Simulated production rigs for `--target sim:production-pxa270` and `sim:production-pxa320`:
// the JTAG module (options as for its JTAG model: flash=FILE, bad=..., locked=all, late=N), the
// Ethernet bootloader (store=FILE keeps the image it received) and the serial console
// (ok=alone|newline|split|none).
#include <fstream>

#include "platform/serial_port.h"
#include "platform/udp.h"
#include "sim/production_module.h"
#include "sim/targets.h"

namespace dz::sim {

namespace {

class ProductionSession final : public Session {
 public:
  ~ProductionSession() override {
    console_.reset();
    serial::set_com_port_override("");
    if (ethernet_) {
      ethernet_->stop();
      udp::set_edbg_ports(0, 0);
      if (!store_.empty() && ethernet_->write_requests() > 0) {
        const auto file = ethernet_->received_file();
        std::ofstream out(store_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()),
                  static_cast<std::streamsize>(file.size()));
      }
    }
    // The JTAG module takes its own port back out before it goes (and writes its flash file).
    if (watch_ && port_io::simulated_port() == watch_.get()) port_io::set_simulated_port(inner_);
    jtag_.reset();
  }

  std::unique_ptr<Session> jtag_;
  port_io::Backend* inner_ = nullptr;
  std::unique_ptr<ResetWatch> watch_;
  std::unique_ptr<EthernetModule> ethernet_;
  std::unique_ptr<ProductionConsole> console_;
  std::string store_;
};

// The loader's BOOTME port: 980 unless moved; a user without the right to bind 980 gets a free
// loopback port, shared with the module.
std::uint16_t loader_port() {
  std::uint16_t loader = udp::bootme_listen_port();
  if (loader != udp::edbg_port) return loader;
  udp::Socket s = udp::Socket::create();
  if (!s || !s.bind(udp::Address{udp::loopback_ip, 0})) return 0;
  return s.local_address().port;
}

std::unique_ptr<Session> attach_rig(const char* jtag_model, const char* name, const char* platform,
                                    const TargetOptions& options, std::string& error) {
  TargetOptions jtag_options;
  ProductionConsoleConfig console;
  auto session = std::make_unique<ProductionSession>();
  for (const auto& [key, value] : options) {
    if (key == "ok") {
      using Answer = ProductionConsoleConfig::Answer;
      if (value == "alone") {
        console.answer = Answer::alone;
      } else if (value == "newline") {
        console.answer = Answer::with_line_break;
      } else if (value == "split") {
        console.answer = Answer::split;
      } else if (value == "none") {
        console.answer = Answer::none;
      } else {
        error = "ok=" + value + ": expected alone, newline, split or none";
        return nullptr;
      }
    } else if (key == "store") {
      session->store_ = value;
    } else {
      jtag_options[key] = value;  // the JTAG model checks its own options
    }
  }
  const TargetModel* jtag = find_target_model(jtag_model);
  if (jtag == nullptr) {
    error = std::string("no JTAG model ") + jtag_model;
    return nullptr;
  }
  session->jtag_ = jtag->attach(jtag_options, error);
  if (!session->jtag_) return nullptr;
  session->inner_ = port_io::simulated_port();
  if (session->inner_ == nullptr) {
    error = "the JTAG model installed no port";
    return nullptr;
  }
  session->watch_ = std::make_unique<ResetWatch>(*session->inner_);
  port_io::set_simulated_port(session->watch_.get());

  EthernetModuleConfig ethernet;
  ethernet.name = name;
  ethernet.platform_id = platform;
  ethernet.loader_port = loader_port();
  if (ethernet.loader_port == 0) {
    error = "no free loopback port for the loader";
    return nullptr;
  }
  session->ethernet_ = std::make_unique<EthernetModule>(ethernet);
  if (!session->ethernet_->start(error)) return nullptr;
  udp::set_edbg_ports(ethernet.loader_port, session->ethernet_->port());

  session->console_ =
      ProductionConsole::start(console, *session->ethernet_, session->watch_.get(), error);
  if (!session->console_) return nullptr;
  serial::set_com_port_override(session->console_->port_name());
  return session;
}

std::unique_ptr<Session> attach_pxa270(const TargetOptions& options, std::string& error) {
  return attach_rig("pxa270-j3x16", "PXA270-SIM", "PXA27X", options, error);
}

std::unique_ptr<Session> attach_pxa320(const TargetOptions& options, std::string& error) {
  return attach_rig("pxa320-nand-large", "PXA320-SIM", "PXA32X", options, error);
}

constexpr TargetModel production_models[] = {
    {"production-pxa270", "production",
     "production test rig: PXA270 with StrataFlash J3 (JTAG), Ethernet bootloader, serial "
     "console that answers OK (flash=FILE, locked=all, late=N, store=FILE, "
     "ok=alone|newline|split|none)",
     attach_pxa270},
    {"production-pxa320", "production",
     "production test rig: PXA320 with large-page NAND (JTAG), Ethernet bootloader, serial "
     "console that answers OK (flash=FILE, bad=B:B..., late=N, store=FILE, "
     "ok=alone|newline|split|none)",
     attach_pxa320},
};

}  // namespace

const ProductionConsole* production_console(const Session& session) {
  const auto* rig = dynamic_cast<const ProductionSession*>(&session);
  return rig ? rig->console_.get() : nullptr;
}

std::span<const TargetModel> production_target_models() {
  return production_models;
}

}  // namespace dz::sim
