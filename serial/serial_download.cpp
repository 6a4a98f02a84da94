// The serial interface's download operations: detect (ready sequence), open, write, close and the
// console monitor.
#include "serial/serial_download.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/debug.h"
#include "platform/serial_port.h"
#include "resources/resource.h"
#include "serial/ready_sequence.h"

namespace dz {

namespace {

constexpr std::uint32_t poll_ms = 100;
constexpr std::uint32_t close_wait_ms = serial_drain_limit_ms + 1000;

enum class MonitorState { idle, expected, running };

// Process-wide state of the serial interface (one serial download at a time).
struct SerialInterfaceState {
  std::mutex mutex;  // guards every member below
  std::string com_port_name = serial::default_port_name();
  std::shared_ptr<serial::Port> serial_port;  // opened by open, shared with the monitor
  // What detect collected before the ready sequence, with room for the terminating zero.
  std::array<char, serial_rx_capacity + 1> serial_rx_buffer{};
  MonitorState monitor_state = MonitorState::idle;
  bool monitor_stop = false;  // close asks the monitor to finish
  std::condition_variable monitor_changed;
};

SerialInterfaceState& state() {
  static SerialInterfaceState s;
  return s;
}

std::string port_to_use() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  std::string override_name = serial::com_port_override();
  return override_name.empty() ? s.com_port_name : override_name;
}

std::string cut(std::string_view text, std::size_t capacity) {
  return std::string(text.substr(0, capacity > 0 ? capacity - 1 : 0));
}

// Text of a chunk as the output field takes it: a zero byte ends it.
std::string_view chunk_text(const char* data, std::size_t size) {
  return std::string_view(data,
                          static_cast<std::size_t>(std::find(data, data + size, '\0') - data));
}

// The text collected before the ready sequence, keeping the latest serial_rx_capacity bytes of
// it. The window is a sequence longer, so that cutting off the sequence still leaves a full buffer.
class CollectedText {
 public:
  // Appends bytes; when the window is full the oldest bytes give way.
  void append(std::span<const std::uint8_t> bytes) {
    const std::size_t keep_new = std::min(bytes.size(), window);
    const std::size_t keep_old = std::min(size_, window - keep_new);
    std::memmove(data_.data(), data_.data() + (size_ - keep_old), keep_old);
    std::copy(bytes.end() - static_cast<std::ptrdiff_t>(keep_new), bytes.end(),
              data_.begin() + static_cast<std::ptrdiff_t>(keep_old));
    size_ = keep_old + keep_new;
  }
  // Removes the last n bytes (the ready sequence).
  void drop_last(std::size_t n) { size_ = n > size_ ? 0 : size_ - n; }
  // Copies the latest serial_rx_capacity bytes with a terminating zero.
  void store(std::array<char, serial_rx_capacity + 1>& out) const {
    const std::size_t n = std::min(size_, serial_rx_capacity);
    std::memcpy(out.data(), data_.data() + (size_ - n), n);
    out[n] = 0;
  }

 private:
  static constexpr std::size_t window = serial_rx_capacity + serial_ready_sequence.size();
  std::array<char, window> data_{};
  std::size_t size_ = 0;
};

// Ends the Device Detection dialog with WM_COMMAND `id`.
void end_detection(ui::Window dialog, int id) {
  ui::Command command;
  command.id = id;
  ui::send_command(dialog, std::move(command));
}

void report_cannot_open(ui::Window owner) {
  ui::message_box(owner, "Cannot Open Serial Port", "Error", ui::MB_OK);
}

}  // namespace

std::uint32_t serial_detect(ui::Window dialog) {
  serial::Port port = serial::Port::open(port_to_use());
  if (!port.is_open()) {
    report_cannot_open(dialog);
    end_detection(dialog, ui::IDCANCEL);
    return 0;
  }
  port.configure_line();
  port.set_immediate_reads();

  ReadyMatcher matcher;
  CollectedText collected;
  std::array<std::uint8_t, serial_rx_capacity> chunk{};
  bool ready = false;
  bool vanished = false;
  while (stop_flag.load() == 0 && !ready) {
    const serial::Wait w = port.wait_readable(poll_ms);
    if (w == serial::Wait::hangup) {
      vanished = true;
      break;
    }
    if (w == serial::Wait::timeout) continue;
    const long n = port.read(chunk);
    if (n < 0) {
      vanished = true;
      break;
    }
    const auto bytes = std::span<const std::uint8_t>(chunk.data(), static_cast<std::size_t>(n));
    const std::size_t end = matcher.scan(bytes);
    if (end < bytes.size()) {
      // Keep the text up to the completing byte, then cut where the sequence began; what
      // follows the sequence in this read is dropped.
      collected.append(bytes.first(end + 1));
      collected.drop_last(serial_ready_sequence.size());
      ready = true;
    } else {
      collected.append(bytes);
    }
  }
  {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    collected.store(s.serial_rx_buffer);
  }
  port.close();
  if (stop_flag.load() != 0 && !ready) return 0;
  if (vanished) {
    // The port went away while waiting (adapter unplugged): it cannot be used any more.
    report_cannot_open(dialog);
    end_detection(dialog, ui::IDCANCEL);
    return 0;
  }
  end_detection(dialog, ui::IDOK);
  return 1;
}

int serial_open(ui::Window dialog) {
  auto port = std::make_shared<serial::Port>(serial::Port::open(port_to_use()));
  if (!port->is_open()) {
    // Reported here so that the job stops at "Initializing Interface" instead of streaming into
    // nothing.
    report_cannot_open(dialog);
    return 0;
  }
  port->set_speed_and_framing();
  // A reopened port may have lost the read time-outs that detect gave it.
  port->set_immediate_reads();
  auto& s = state();
  std::lock_guard lock(s.mutex);
  s.serial_port = std::move(port);
  s.monitor_stop = false;
  s.monitor_state = MonitorState::expected;
  return 1;
}

int serial_write(std::uint8_t* buffer, std::uint32_t, std::uint32_t length) {
  std::shared_ptr<serial::Port> port;
  {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    port = s.serial_port;
  }
  if (!port) return 0;
  std::uint32_t sent = 0;
  std::uint32_t stalled_ms = 0;
  while (sent < length) {
    const long n =
        port->write(std::span<const std::uint8_t>(buffer + sent, length - sent), poll_ms);
    if (n < 0) break;  // the line is gone
    if (n > 0) {
      sent += static_cast<std::uint32_t>(n);
      stalled_ms = 0;
      continue;
    }
    // The module is not taking data. Abort ends the wait (not a failure of the line: the job
    // ends the stream as aborted); so does a long stall (a failure).
    if (abort_flag.load() != 0) return 1;
    stalled_ms += poll_ms;
    if (stalled_ms >= serial_write_stall_ms) break;
  }
  if (sent == length) return 1;
  show_error("Cannot Write to Serial Port");
  return 0;
}

int serial_close() {
  auto& s = state();
  std::shared_ptr<serial::Port> port;
  {
    std::unique_lock lock(s.mutex);
    // The monitor reads the port: let it echo the module's last words and end first.
    s.monitor_stop = true;
    s.monitor_changed.notify_all();
    s.monitor_changed.wait_for(lock, std::chrono::milliseconds(close_wait_ms),
                               [&] { return s.monitor_state == MonitorState::idle; });
    // A monitor that never started will find nothing to do.
    if (s.monitor_state == MonitorState::expected) s.monitor_state = MonitorState::idle;
    port = std::move(s.serial_port);
  }
  // Closed here, or by a monitor that is still finishing its last read.
  port.reset();
  return 1;
}

std::uint32_t serial_monitor(ui::Window dialog) {
  auto& s = state();
  std::shared_ptr<serial::Port> port;
  std::string collected;
  {
    std::lock_guard lock(s.mutex);
    if (s.monitor_state != MonitorState::expected || !s.serial_port) return 1;
    s.monitor_state = MonitorState::running;
    port = s.serial_port;
    collected = std::string(chunk_text(s.serial_rx_buffer.data(), s.serial_rx_buffer.size()));
  }
  auto stop_requested = [&] {
    std::lock_guard lock(s.mutex);
    return s.monitor_stop;
  };

  if (!collected.empty()) ui::append_text(dialog, IDC_MONITOR_OUTPUT, collected);
  std::array<char, serial_rx_capacity + 1> rx{};
  std::uint32_t quiet_ms = 0;
  std::uint32_t draining_ms = 0;
  while (abort_flag.load() == 0) {
    const bool draining = stop_requested();
    if (draining && (quiet_ms >= serial_drain_quiet_ms || draining_ms >= serial_drain_limit_ms)) {
      break;
    }
    const serial::Wait w = port->wait_readable(poll_ms);
    if (w == serial::Wait::hangup) break;
    if (w == serial::Wait::timeout) {
      if (draining) {
        quiet_ms += poll_ms;
        draining_ms += poll_ms;
      }
      continue;
    }
    const long n = port->read(
        std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(rx.data()), serial_rx_capacity));
    if (n < 0) break;
    if (draining) {
      quiet_ms = 0;
      draining_ms += 10;  // reads with data are quick; still count them towards the limit
    }
    rx[static_cast<std::size_t>(n)] = 0;
    if (rx[0] != 0) ui::append_text(dialog, IDC_MONITOR_OUTPUT, chunk_text(rx.data(), rx.size()));
  }
  port.reset();
  std::lock_guard lock(s.mutex);
  s.monitor_state = MonitorState::idle;
  s.monitor_changed.notify_all();
  return 1;
}

std::string com_port_name() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  return s.com_port_name;
}

void set_com_port_name(std::string_view name) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  s.com_port_name = cut(name, serial::port_name_capacity());
}

std::string serial_collected_text() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  return std::string(chunk_text(s.serial_rx_buffer.data(), s.serial_rx_buffer.size()));
}

void reset_serial_state() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  s.com_port_name = serial::default_port_name();
  serial::set_com_port_override("");
  s.serial_port.reset();
  s.serial_rx_buffer.fill(0);
  s.monitor_state = MonitorState::idle;
  s.monitor_stop = false;
}

}  // namespace dz
