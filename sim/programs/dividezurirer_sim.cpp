// dividezurirer-sim: serves a simulated PXA processor over OpenOCD's remote_bitbang protocol on a
// loopback TCP port, one client at a time. Prints the port; ends on 'Q' or SIGINT/SIGTERM.
#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>

#include "platform/tcp.h"
#include "sim/jtag_module.h"
#include "sim/pxa.h"
#include "sim/remote_bitbang.h"

namespace {

std::atomic<int> stop_requested{0};

extern "C" void on_signal(int) {
  stop_requested.store(1);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Serves a simulated PXA processor's JTAG port over OpenOCD's remote_bitbang "
      "protocol on 127.0.0.1.\n\nExample:\n  dividezurirer-sim --cpu pxa270 --port 3335\n"
      "  openocd -c 'adapter driver remote_bitbang' -c 'remote_bitbang port 3335' ..."};
  std::string cpu_name = "pxa270";
  unsigned port = 0;
  std::string port_file;
  std::string idcode_text;
  std::string model_name;
  app.add_option("--cpu", cpu_name, "Processor: " + dz::sim::cpu_model_names())
      ->capture_default_str();
  app.add_option("--port", port, "TCP port on 127.0.0.1 (0 = any free port)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--port-file", port_file, "Also write the port number into this file");
  app.add_option("--idcode", idcode_text, "Another IDCODE (hex), e.g. another stepping");
  app.add_option("--model", model_name,
                 "A whole module with its flash (e.g. pxa270-j3x16) instead of a bare processor");
  CLI11_PARSE(app, argc, argv);

  const dz::sim::CpuModelInfo* info = dz::sim::find_cpu_model(cpu_name);
  if (info == nullptr) {
    std::cerr << "dividezurirer-sim: unknown processor '" << cpu_name
              << "' (known: " << dz::sim::cpu_model_names() << ")\n";
    return 2;
  }
  std::optional<std::uint32_t> idcode;
  if (!idcode_text.empty()) {
    try {
      std::size_t used = 0;
      unsigned long v = std::stoul(idcode_text, &used, 16);
      if (used != idcode_text.size() || v > 0xFFFFFFFFul) throw std::out_of_range("idcode");
      idcode = static_cast<std::uint32_t>(v);
    } catch (const std::exception&) {
      std::cerr << "dividezurirer-sim: bad --idcode '" << idcode_text << "'\n";
      return 2;
    }
  }
  std::unique_ptr<dz::sim::JtagModule> module;
  std::unique_ptr<dz::sim::Pxa> bare_cpu;
  if (!model_name.empty()) {
    std::string model_error;
    module = dz::sim::make_jtag_module(model_name, model_error);
    if (!module) {
      std::cerr << "dividezurirer-sim: " << model_error << "\n";
      return 2;
    }
  } else {
    bare_cpu = idcode ? std::make_unique<dz::sim::Pxa>(info->model, *idcode)
                      : std::make_unique<dz::sim::Pxa>(info->model);
  }
  dz::sim::Pxa* cpu = module ? &module->cpu() : bare_cpu.get();
  const char* served = module ? model_name.c_str() : info->name;

  std::string error;
  dz::tcp::Listener listener =
      dz::tcp::Listener::listen_loopback(static_cast<std::uint16_t>(port), error);
  if (!listener.valid()) {
    std::cerr << "dividezurirer-sim: " << error << "\n";
    return 1;
  }
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  std::printf("dividezurirer-sim: %s (IDCODE 0x%08X) on 127.0.0.1 port %u\n", served,
              cpu->tap().config().idcode, listener.port());
  std::fflush(stdout);
  if (!port_file.empty()) {
    std::ofstream f(port_file + ".tmp");
    f << listener.port() << "\n";
    f.close();
    std::rename((port_file + ".tmp").c_str(), port_file.c_str());
  }

  bool quit = false;
  std::uint8_t buffer[4096];
  std::string reply;
  while (!quit && !stop_requested.load()) {
    dz::tcp::Stream client = listener.accept(200);
    if (!client) continue;
    dz::sim::BitbangSession session(*cpu);
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
  }
  std::printf("dividezurirer-sim: stopped\n");
  return 0;
}
