#pragma once
// The module on a production test rig: its JTAG port (processor and flash), its Ethernet
// bootloader and its serial console on a pseudo-terminal. The console prints the module's boot
// messages while the line is open: the bootloader's banner each time JTAG takes the processor
// (the rig resets it), BOOTME and download progress, and once the image has arrived and been
// jumped to, the image's start-up lines, a pause, and the answer "OK" alone.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/port_io.h"
#include "platform/serial_port.h"
#include "platform/thread.h"
#include "sim/ethernet_module.h"

namespace dz::sim {

struct ProductionConsoleConfig {
  // How the module answers after the jump: "OK" alone; "OK" with a line break in the same write;
  // "O" and "K" with a pause between them; or not at all.
  enum class Answer { alone, with_line_break, split, none };
  Answer answer = Answer::alone;
  std::uint32_t line_every_ms = 100;       // a console line this often (real time)
  std::uint32_t quiet_before_ok_ms = 600;  // silence between the start-up lines and the answer
};

// Counts the cable layer's opens of the port on their way to the simulated port behind it (a
// JTAG open resets the module's processor).
class ResetWatch final : public port_io::Backend {
 public:
  explicit ResetWatch(port_io::Backend& inner) : inner_(inner) {}
  void write(std::uint16_t address, std::uint8_t value) override { inner_.write(address, value); }
  std::uint8_t read(std::uint16_t address) override { return inner_.read(address); }
  void flush() override { inner_.flush(); }
  void opened(std::uint16_t base, std::uint32_t kind) override {
    inner_.opened(base, kind);
    ++opens_;
  }
  int opens() const { return opens_.load(); }

 private:
  port_io::Backend& inner_;
  std::atomic<int> opens_{0};
};

class ProductionConsole {
 public:
  // Creates the pseudo-terminal and starts the console; nullptr with `error` on failure.
  static std::unique_ptr<ProductionConsole> start(ProductionConsoleConfig config,
                                                  EthernetModule& ethernet,
                                                  const ResetWatch* reset_watch,
                                                  std::string& error);
  ~ProductionConsole();
  ProductionConsole(const ProductionConsole&) = delete;
  ProductionConsole& operator=(const ProductionConsole&) = delete;

  // The program's end of the line.
  const std::string& port_name() const { return port_name_; }
  // Everything written to the line since a program last opened it.
  std::string transcript() const;
  // Whether a program has the line open, as the console last saw it.
  bool line_open() const { return line_open_.load(); }
  // How many answers (complete "OK"s) went out.
  int answers() const { return answers_.load(); }

 private:
  ProductionConsole(ProductionConsoleConfig config, EthernetModule& ethernet,
                    const ResetWatch* reset_watch);
  void run();
  void step();
  void reset_module(bool line_open);
  void print(const std::string& text);
  bool quiet_ms(std::uint32_t ms);  // false when the line closed or the console stops

  enum class Phase { bootloader, booting, running };
  ProductionConsoleConfig config_;
  EthernetModule& ethernet_;
  const ResetWatch* reset_watch_;
  std::string port_name_;
  serial::Port master_;  // the console thread's own

  mutable std::mutex mutex_;  // guards transcript_
  std::string transcript_;
  std::atomic<int> stopping_{0};
  std::atomic<int> answers_{0};
  std::atomic<bool> line_open_{false};

  // The console thread's own state.
  Phase phase_ = Phase::bootloader;
  int seen_resets_ = 0;
  int seen_jumps_ = 0;
  int bootme_lines_ = 0;
  threads::Thread thread_;
};

}  // namespace dz::sim

namespace dz::sim {
class Session;
// The console of a production rig's session (nullptr for any other session).
const ProductionConsole* production_console(const Session& session);
}  // namespace dz::sim
