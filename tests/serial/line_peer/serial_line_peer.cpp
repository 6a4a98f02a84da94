// serial_line_peer: the far end of a serial line that a test drives through the line itself, for
// the Windows serial port tests under Wine. It makes a pseudo-terminal, links it where the test
// expects a COM port (a Wine prefix's dosdevices/comN), writes "serial=PATH" into an info file and
// then follows the commands that arrive on the line, one text line each:
//   "echo N"      sends back the next N bytes as they arrive (any byte values)
//   "send N"      sends N bytes: byte i is (i * 7 + i / 256) & 0xFF
//   "hangup TEXT" sends TEXT, then closes its end (the line hangs up); a new line takes its place
//                 under the same links
// Every command but "hangup" is answered "ok\n" before its data. When the program closes the line,
// a half-received command or echo is forgotten. With --deaf the peer never reads: writes to it
// stall once the line's buffers are full. Ends on SIGINT/SIGTERM.
#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_port.h"

namespace {

std::atomic<int> stop_requested{0};

extern "C" void on_signal(int) {
  stop_requested.store(1);
}

struct Peer {
  std::vector<std::string> links;
  bool deaf = false;
  dz::serial::PseudoTerminal line;
  std::string command;        // command text so far
  std::size_t echo_left = 0;  // bytes still to echo

  bool make_line() {
    std::string error;
    if (!dz::serial::open_pseudo_terminal(line, error)) {
      std::cerr << "serial_line_peer: " << error << "\n";
      return false;
    }
    dz::serial::take_as_controlling_terminal(line.slave_name);
    for (const auto& link : links) {
      std::error_code ec;
      std::filesystem::remove(link, ec);
      std::filesystem::create_symlink(line.slave_name, link, ec);
      if (ec) {
        std::cerr << "serial_line_peer: cannot link " << link << ": " << ec.message() << "\n";
        return false;
      }
    }
    command.clear();
    echo_left = 0;
    return true;
  }

  void send(const std::string& text) {
    send_bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  }
  void send_bytes(const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    for (int tries = 0; done < size && tries < 200; ++tries) {
      const long n = line.master.write({data + done, size - done}, 50);
      if (n < 0) return;
      done += static_cast<std::size_t>(n);
    }
  }

  // Runs one command line; false when the line was hung up (a new one is in place).
  bool run(const std::string& text) {
    const std::size_t space = text.find(' ');
    const std::string verb = text.substr(0, space);
    const std::string arg = space == std::string::npos ? "" : text.substr(space + 1);
    if (verb == "echo" || verb == "send") {
      std::size_t n = 0;
      try {
        n = std::stoul(arg);
      } catch (const std::exception&) {
        send("bad count\n");
        return true;
      }
      send("ok\n");
      if (verb == "echo") {
        echo_left = n;
      } else {
        std::vector<std::uint8_t> data(n);
        for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
        send_bytes(data.data(), data.size());
      }
      return true;
    }
    if (verb == "hangup") {
      send(arg);
      line.master.close();
      if (!make_line()) stop_requested.store(1);
      return false;
    }
    send("unknown command\n");
    return true;
  }

  void take(const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      if (echo_left > 0) {
        const std::size_t n = std::min(echo_left, size - i);
        send_bytes(data + i, n);
        echo_left -= n;
        i += n - 1;
        continue;
      }
      if (data[i] == '\n') {
        const std::string text = command;
        command.clear();
        if (!run(text)) return;  // the rest belonged to the line that is gone
      } else if (command.size() < 256) {
        command.push_back(static_cast<char>(data[i]));
      }
    }
  }

  void serve() {
    std::vector<std::uint8_t> buffer(64 * 1024);
    while (!stop_requested.load()) {
      if (deaf) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        continue;
      }
      const dz::serial::Wait w = line.master.wait_readable(50);
      if (w == dz::serial::Wait::hangup) {
        // No program has the line open: what it left half done is forgotten.
        command.clear();
        echo_left = 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        continue;
      }
      if (w != dz::serial::Wait::ready) continue;
      const long n = line.master.read(buffer);
      if (n > 0) take(buffer.data(), static_cast<std::size_t>(n));
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"The far end of a serial line for the Windows serial tests under Wine."};
  Peer peer;
  std::string info_file;
  app.add_option("--com-link", peer.links, "A symbolic link to the line (repeatable)")->required();
  app.add_option("--info-file", info_file, "Where to write serial=PATH when ready")->required();
  app.add_flag("--deaf", peer.deaf, "Never read from the line");
  CLI11_PARSE(app, argc, argv);

  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  if (!peer.make_line()) return 1;
  {
    std::ofstream f(info_file + ".tmp");
    f << "serial=" << peer.line.slave_name << "\n";
  }
  std::filesystem::rename(info_file + ".tmp", info_file);
  peer.serve();
  for (const auto& link : peer.links) {
    std::error_code ec;
    std::filesystem::remove(link, ec);
  }
  return 0;
}
