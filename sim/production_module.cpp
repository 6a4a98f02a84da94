// The production rig's module console.
#include "sim/production_module.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "sim/console_line.h"

namespace dz::sim {

namespace {

void pause_real_ms(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint64_t real_ms() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

constexpr const char* bootloader_banner =
    "\r\nMicrosoft Windows CE Bootloader Common Library Version 1.1\r\n"
    "Ethernet Boot Loader Configuration:\r\n"
    "INFO: Using device name: 'PXA-SIM'\r\n"
    "System ready!\r\n";

constexpr const char* image_start_lines =
    "Windows CE Kernel for ARM (Thumb Enabled)\r\n"
    "OEMInit: starting\r\n"
    "Production self test: RAM passed, flash passed, Ethernet passed\r\n";

}  // namespace

std::unique_ptr<ProductionConsole> ProductionConsole::start(ProductionConsoleConfig config,
                                                            EthernetModule& ethernet,
                                                            const ResetWatch* reset_watch,
                                                            std::string& error) {
  std::unique_ptr<ProductionConsole> console{new ProductionConsole(config, ethernet, reset_watch)};
  serial::PseudoTerminal pty;
  if (!serial::open_pseudo_terminal(pty, error)) return nullptr;
  console->master_ = std::move(pty.master);
  console->port_name_ = pty.slave_name;
  console->thread_ = threads::Thread::start([c = console.get()] { c->run(); });
  return console;
}

ProductionConsole::ProductionConsole(ProductionConsoleConfig config, EthernetModule& ethernet,
                                     const ResetWatch* reset_watch)
    : config_(config), ethernet_(ethernet), reset_watch_(reset_watch) {}

ProductionConsole::~ProductionConsole() {
  stopping_ = 1;
  thread_.join();
}

std::string ProductionConsole::transcript() const {
  std::lock_guard lock(mutex_);
  return transcript_;
}

void ProductionConsole::print(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    transcript_ += text;
  }
  write_console(master_, text);
}

// The processor was reset by JTAG: the bootloader starts over and announces itself again.
void ProductionConsole::reset_module(bool line_open) {
  ethernet_.reset_for_download();
  seen_jumps_ = ethernet_.jump_commands();
  bootme_lines_ = 0;
  phase_ = Phase::bootloader;
  if (line_open) print(bootloader_banner);
}

bool ProductionConsole::quiet_ms(std::uint32_t ms) {
  const std::uint64_t end = real_ms() + ms;
  while (stopping_.load() == 0) {
    const std::uint64_t now = real_ms();
    if (now >= end) return true;
    const auto w = master_.wait_readable(static_cast<std::uint32_t>(end - now));
    if (w == serial::Wait::hangup) return false;
    if (w == serial::Wait::ready) {
      std::uint8_t discard[256];
      (void)master_.read(discard);
    }
  }
  return false;
}

void ProductionConsole::run() {
  bool line_open = false;
  std::uint64_t last_line = 0;
  while (stopping_.load() == 0) {
    const auto w = master_.wait_readable(10);
    if (w == serial::Wait::ready) {
      std::uint8_t discard[256];  // the console takes no input
      (void)master_.read(discard);
    }
    const bool open_now = w != serial::Wait::hangup;
    if (open_now && !line_open) {
      // A program opened the line: what the module prints from now on is what it can see.
      {
        std::lock_guard lock(mutex_);
        transcript_.clear();
      }
      print(bootloader_banner);
      last_line = real_ms();
    }
    line_open = open_now;
    line_open_ = open_now;
    if (reset_watch_ && reset_watch_->opens() != seen_resets_) {
      seen_resets_ = reset_watch_->opens();
      reset_module(line_open);
    }
    if (!line_open) {
      // Nobody listens: the module's output goes nowhere and is not kept.
      pause_real_ms(10);
      continue;
    }
    if (real_ms() - last_line < config_.line_every_ms) continue;
    last_line = real_ms();
    step();
  }
}

// One console line (or the answer) in the current phase.
void ProductionConsole::step() {
  char line[128];
  switch (phase_) {
    case Phase::bootloader:
      if (ethernet_.jump_commands() != seen_jumps_) {
        print("Download successful! Jumping to image\r\n");
        print(image_start_lines);
        phase_ = Phase::booting;
      } else if (ethernet_.data_packets() > 0) {
        std::snprintf(line, sizeof line, "Received %d packets\r\n", ethernet_.data_packets());
        print(line);
      } else {
        std::snprintf(line, sizeof line, "Sending BOOTME request [%d] to 255.255.255.255\r\n",
                      ++bootme_lines_);
        print(line);
      }
      break;
    case Phase::booting: {
      using Answer = ProductionConsoleConfig::Answer;
      phase_ = Phase::running;
      if (!quiet_ms(config_.quiet_before_ok_ms)) break;
      if (config_.answer == Answer::alone) {
        print("OK");
      } else if (config_.answer == Answer::with_line_break) {
        print("OK\r\n");
      } else if (config_.answer == Answer::split) {
        print("O");
        if (!quiet_ms(config_.quiet_before_ok_ms)) break;
        print("K");
      } else {
        break;
      }
      ++answers_;
      break;
    }
    case Phase::running:
      break;  // the image runs quietly
  }
}

}  // namespace dz::sim
