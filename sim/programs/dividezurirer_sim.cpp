// dividezurirer-sim: serves a simulated PXA processor over OpenOCD's remote_bitbang protocol on a
// loopback TCP port, one client at a time. Prints the port; ends on 'Q' or SIGINT/SIGTERM.
// With --target it runs any simulated module of `--target sim:MODEL` instead (a serial bootloader
// on a pseudo-terminal, an Ethernet module on loopback) for another program to reach, and says
// where in an info file.
#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "platform/serial_port.h"
#include "platform/tcp.h"
#include "platform/udp.h"
#include "sim/jtag_module.h"
#include "sim/pxa.h"
#include "sim/remote_bitbang.h"
#include "sim/targets.h"

namespace {

std::atomic<int> stop_requested{0};

extern "C" void on_signal(int) {
  stop_requested.store(1);
}

struct Options {
  std::string cpu_name = "pxa270";
  unsigned port = 0;
  std::string port_file;
  std::string idcode_text;
  std::string model_name;
  std::string flash_file;
  std::string target;
  std::string info_file;
  std::string com_link;
};

void add_options(CLI::App& app, Options& o) {
  app.add_option("--cpu", o.cpu_name, "Processor: " + dz::sim::cpu_model_names())
      ->capture_default_str();
  app.add_option("--port", o.port, "TCP port on 127.0.0.1 (0 = any free port)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--port-file", o.port_file, "Also write the port number into this file");
  app.add_option("--idcode", o.idcode_text, "Another IDCODE (hex), e.g. another stepping");
  app.add_option("--model", o.model_name,
                 "A whole module with its flash (e.g. pxa270-j3x16) instead of a bare processor");
  app.add_option("--flash", o.flash_file,
                 "With --model: the module's flash contents, loaded from FILE (created erased "
                 "when missing) and written back when the server stops");
  app.add_option("--target", o.target,
                 "Run a simulated module of --target sim:MODEL[,key=value...] (serial, Ethernet) "
                 "for another program instead of serving JTAG");
  app.add_option("--info-file", o.info_file,
                 "With --target: where it can be reached, as key=value lines (serial=, "
                 "bootme_port=, module_port=)");
  app.add_option("--com-link", o.com_link,
                 "With --target: a symbolic link to the serial module's line (e.g. a Wine "
                 "prefix's dosdevices/com5)");
}

// The --idcode text as a 32-bit value: nullopt in `idcode` when none was given; false when the
// text is not a hex number that fits.
bool parse_idcode(const std::string& text, std::optional<std::uint32_t>& idcode) {
  if (text.empty()) return true;
  try {
    std::size_t used = 0;
    unsigned long v = std::stoul(text, &used, 16);
    if (used != text.size() || v > 0xFFFFFFFFul) throw std::out_of_range("idcode");
    idcode = static_cast<std::uint32_t>(v);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// What is served: a whole module when --model names one, otherwise a bare processor.
struct Served {
  std::unique_ptr<dz::sim::JtagModule> module;
  std::unique_ptr<dz::sim::Pxa> bare_cpu;
  dz::sim::Pxa* cpu = nullptr;
  const char* name = nullptr;
};

// Builds what is served; false with the message printed when the model is unknown.
bool make_served(const Options& o, const dz::sim::CpuModelInfo& info,
                 std::optional<std::uint32_t> idcode, Served& served) {
  if (!o.model_name.empty()) {
    std::string model_error;
    served.module = dz::sim::make_jtag_module(o.model_name, model_error);
    if (!served.module) {
      std::cerr << "dividezurirer-sim: " << model_error << "\n";
      return false;
    }
  } else {
    served.bare_cpu = idcode ? std::make_unique<dz::sim::Pxa>(info.model, *idcode)
                             : std::make_unique<dz::sim::Pxa>(info.model);
  }
  served.cpu = served.module ? &served.module->cpu() : served.bare_cpu.get();
  served.name = served.module ? o.model_name.c_str() : info.name;
  return true;
}

// Loads the --flash file into the served module; false with the message printed when there is
// no module to hold it or the file does not fit the module.
bool load_flash(const Options& o, Served& served) {
  if (o.flash_file.empty()) return true;
  if (!served.module) {
    std::cerr << "dividezurirer-sim: --flash needs --model (a bare processor has no flash)\n";
    return false;
  }
  std::string error;
  if (!dz::sim::load_or_create_flash_file(*served.module, o.flash_file, error)) {
    std::cerr << "dividezurirer-sim: " << error << "\n";
    return false;
  }
  return true;
}

// Writes the module's flash back to the --flash file; false with the message printed on failure.
bool save_flash(const Options& o, const Served& served) {
  if (o.flash_file.empty() || !served.module) return true;
  if (dz::sim::save_flash_file(*served.module, o.flash_file)) return true;
  std::cerr << "dividezurirer-sim: cannot write flash file " << o.flash_file << "\n";
  return false;
}

// Writes a file through a temporary one so a reader never sees half of it.
void write_whole_file(const std::string& path, const std::string& text) {
  std::ofstream f(path + ".tmp");
  f << text;
  f.close();
  std::rename((path + ".tmp").c_str(), path.c_str());
}

void write_port_file(const std::string& port_file, std::uint16_t port) {
  write_whole_file(port_file, std::to_string(port) + "\n");
}

// Runs a simulated module of `--target` until SIGINT/SIGTERM; destroying its session at the end
// writes what it keeps (an Ethernet module's store=FILE). 0 on a clean stop.
int run_target(const Options& o) {
  std::string model_name;
  dz::sim::TargetOptions options;
  std::string error;
  if (!dz::sim::parse_target(o.target, model_name, options, error)) {
    std::cerr << "dividezurirer-sim: " << error << "\n";
    return 2;
  }
  const dz::sim::TargetModel* model = dz::sim::find_target_model(model_name);
  if (model == nullptr) {
    std::cerr << "dividezurirer-sim: unknown simulated module '" << model_name << "'\n";
    return 2;
  }
  std::unique_ptr<dz::sim::Session> session = model->attach(options, error);
  if (!session) {
    std::cerr << "dividezurirer-sim: " << error << "\n";
    return 1;
  }
  std::string info;
  const std::string line = dz::serial::com_port_override();
  if (!line.empty()) info += "serial=" + line + "\n";
  info += "bootme_port=" + std::to_string(dz::udp::bootme_listen_port()) + "\n";
  info += "module_port=" + std::to_string(dz::udp::module_port()) + "\n";
  if (!o.com_link.empty()) {
    if (line.empty()) {
      std::cerr << "dividezurirer-sim: --com-link needs a serial module\n";
      return 2;
    }
    std::error_code ec;
    std::filesystem::remove(o.com_link, ec);
    std::filesystem::create_symlink(line, o.com_link, ec);
    if (ec) {
      std::cerr << "dividezurirer-sim: cannot link " << o.com_link << ": " << ec.message() << "\n";
      return 1;
    }
    // Keeps the wineserver from taking the line as its terminal (and the line's hang-ups with it).
    dz::serial::take_as_controlling_terminal(line);
  }
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  std::printf("dividezurirer-sim: %s running\n%s", model_name.c_str(), info.c_str());
  std::fflush(stdout);
  if (!o.info_file.empty()) write_whole_file(o.info_file, info);
  bool linked = !o.com_link.empty();
  while (!stop_requested.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // A module whose line went away (vanish=) is unplugged: its port name goes with it, as a
    // removed USB adapter's does.
    if (linked && !dz::serial::port_exists(line)) {
      std::remove(o.com_link.c_str());
      linked = false;
    }
  }
  session.reset();
  if (linked) std::remove(o.com_link.c_str());
  std::printf("dividezurirer-sim: stopped\n");
  return 0;
}

// Serves one client until it closes, a stop is requested or it asks to quit; true on quit.
bool serve_client(dz::tcp::Stream& client, dz::sim::Pxa& cpu) {
  std::uint8_t buffer[4096];
  std::string reply;
  dz::sim::BitbangSession session(cpu);
  bool quit = false;
  while (!stop_requested.load()) {
    const int got = client.read_some(buffer, sizeof buffer, 200);
    if (got == -2) continue;
    if (got <= 0) break;  // the client closed: wait for the next one
    reply.clear();
    quit = !session.feed(buffer, static_cast<std::size_t>(got), reply);
    if (!reply.empty() &&
        !client.write_all(reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()))
      break;
    if (quit) break;
  }
  return quit;
}

// Accepts clients one at a time until one quits or a stop is requested.
void serve(dz::tcp::Listener& listener, dz::sim::Pxa& cpu) {
  bool quit = false;
  while (!quit && !stop_requested.load()) {
    dz::tcp::Stream client = listener.accept(200);
    if (!client) continue;
    quit = serve_client(client, cpu);
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Serves a simulated PXA processor's JTAG port over OpenOCD's remote_bitbang "
      "protocol on 127.0.0.1.\n\nExample:\n  dividezurirer-sim --cpu pxa270 --port 3335\n"
      "  openocd -c 'adapter driver remote_bitbang' -c 'remote_bitbang port 3335' ..."};
  Options o;
  add_options(app, o);
  CLI11_PARSE(app, argc, argv);
  if (!o.target.empty()) return run_target(o);

  const dz::sim::CpuModelInfo* info = dz::sim::find_cpu_model(o.cpu_name);
  if (info == nullptr) {
    std::cerr << "dividezurirer-sim: unknown processor '" << o.cpu_name
              << "' (known: " << dz::sim::cpu_model_names() << ")\n";
    return 2;
  }
  std::optional<std::uint32_t> idcode;
  if (!parse_idcode(o.idcode_text, idcode)) {
    std::cerr << "dividezurirer-sim: bad --idcode '" << o.idcode_text << "'\n";
    return 2;
  }
  Served served;
  if (!make_served(o, *info, idcode, served) || !load_flash(o, served)) return 2;

  std::string error;
  dz::tcp::Listener listener =
      dz::tcp::Listener::listen_loopback(static_cast<std::uint16_t>(o.port), error);
  if (!listener.valid()) {
    std::cerr << "dividezurirer-sim: " << error << "\n";
    return 1;
  }
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  std::printf("dividezurirer-sim: %s (IDCODE 0x%08X) on 127.0.0.1 port %u\n", served.name,
              served.cpu->tap().config().idcode, listener.port());
  std::fflush(stdout);
  if (!o.port_file.empty()) write_port_file(o.port_file, listener.port());

  serve(listener, *served.cpu);
  const bool saved = save_flash(o, served);
  std::printf("dividezurirer-sim: stopped\n");
  return saved ? 0 : 1;
}
