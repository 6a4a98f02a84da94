// The simulated serial bootloader: console banner, ready sequence, image reception with progress
// and a result line, on the device end of a pseudo-terminal.
#include "sim/serial_bootloader.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "sim/console_line.h"

namespace dz::sim {

namespace {

constexpr std::uint8_t ready_sequence[17] = {0xAA, 0x55, 0x55, 0xAA, 0x00, 0x00, 0x09, 0x00, 0xFF,
                                             0xFF, 0xFF, 0xFF, 0xFA, 0x5A, 0xA5, 0x0A, 0x1A};
constexpr std::uint8_t broken_start[3] = {0xAA, 0x55, 0x55};
constexpr std::uint32_t poll_ms = 20;
constexpr int raw_end_quiet_polls = 25;  // half a second without data ends a raw image

std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::string format(const char* fmt, auto... args) {
  char line[256];
  std::snprintf(line, sizeof line, fmt, args...);
  return line;
}

std::string banner(std::size_t at_least) {
  std::string text =
      "\r\nSimulated PXA270 module - serial bootloader 1.0\r\n"
      "CPU: PXA270 C5, 520 MHz\r\n"
      "SDRAM: 64 MB at 0xA0000000\r\n"
      "Flash: 32 MB StrataFlash at 0x00000000\r\n";
  for (unsigned n = 1; text.size() < at_least; ++n) {
    text += format("Boot log %04u: memory test of bank %u passed\r\n", n, n % 4);
  }
  text += "Waiting for image on the serial line (115200 8N1)...\r\n";
  return text;
}

}  // namespace

SerialBootloader::SerialBootloader(SerialBootloaderConfig config) : config_(std::move(config)) {}

std::unique_ptr<SerialBootloader> SerialBootloader::start(SerialBootloaderConfig config,
                                                          std::string& error) {
  std::unique_ptr<SerialBootloader> module{new SerialBootloader(std::move(config))};
  serial::PseudoTerminal pty;
  if (!serial::open_pseudo_terminal(pty, error)) return nullptr;
  module->master_ = std::move(pty.master);
  module->port_name_ = pty.slave_name;
  module->thread_ = threads::Thread::start([m = module.get()] { m->run(); });
  return module;
}

SerialBootloader::~SerialBootloader() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

std::vector<std::uint8_t> SerialBootloader::received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

std::string SerialBootloader::console() const {
  std::lock_guard lock(mutex_);
  return console_;
}

int SerialBootloader::ready_count() const {
  std::lock_guard lock(mutex_);
  return ready_count_;
}

std::optional<bool> SerialBootloader::result() const {
  std::lock_guard lock(mutex_);
  return result_;
}

bool SerialBootloader::wait_received(std::size_t bytes, std::uint32_t timeout_ms) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return received_.size() >= bytes; });
}

bool SerialBootloader::wait_result(std::uint32_t timeout_ms) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return result_.has_value(); });
}

bool SerialBootloader::wait_ready_sent(int count, std::uint32_t timeout_ms) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return ready_count_ >= count; });
}

void SerialBootloader::pause_reading(bool paused) {
  std::lock_guard lock(mutex_);
  paused_ = paused;
}

void SerialBootloader::vanish() {
  std::unique_lock lock(mutex_);
  vanish_requested_ = true;
  changed_.notify_all();
  // The module's thread closes the line; wait until it has.
  changed_.wait_for(lock, std::chrono::milliseconds(2000),
                    [&] { return phase_ == Phase::gone || stopping_; });
}

bool SerialBootloader::pause_ms(std::uint32_t ms) {
  std::unique_lock lock(mutex_);
  return !changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping_; });
}

void SerialBootloader::print(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    console_ += text;
  }
  write_console(master_, text);
}

void SerialBootloader::boot() {
  {
    std::lock_guard lock(mutex_);
    received_.clear();
    result_.reset();
  }
  next_progress_ = config_.progress_every;
  wince_pos_ = 0;
  wince_checked_ = false;
  is_wince_ = false;
  checksum_errors_ = 0;
  quiet_polls_ = 0;
  bytes_seen_ = 0;

  print(banner(config_.banner_bytes));
  if (!pause_ms(config_.split_pause_ms)) return;
  const std::string sequence(reinterpret_cast<const char*>(ready_sequence), sizeof ready_sequence);
  if (config_.broken_prefix) {
    // A start that breaks off (AA 55 55) right before a full sequence: a matcher that does not go
    // back misses that sequence, so the module repeats it cleanly after a while.
    send_sequence(std::string(reinterpret_cast<const char*>(broken_start), 3) + sequence);
    if (!pause_ms(config_.split_pause_ms)) return;
  }
  send_sequence(sequence);
  phase_ = Phase::receiving;
}

void SerialBootloader::send_sequence(const std::string& bytes) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  if (config_.split_ready) {
    const std::size_t first = bytes.size() - 9;  // the break falls inside the sequence
    master_.write({data, first}, 1000);
    if (!pause_ms(config_.split_pause_ms)) return;
    master_.write({data + first, bytes.size() - first}, 1000);
  } else {
    master_.write({data, bytes.size()}, 1000);
  }
  {
    std::lock_guard lock(mutex_);
    ++ready_count_;
  }
  changed_.notify_all();
}

void SerialBootloader::finish(bool ok, const std::string& line) {
  print(line);
  {
    std::lock_guard lock(mutex_);
    result_ = ok;
  }
  changed_.notify_all();
  phase_ = Phase::done;
}

// Follows a Windows CE image through its records; true once the terminator has arrived.
bool SerialBootloader::scan_wince_end() {
  const std::vector<std::uint8_t>& r = received_;  // the caller holds the lock
  if (!wince_checked_) {
    if (r.size() < 7) return false;
    wince_checked_ = true;
    is_wince_ = std::memcmp(r.data(), "B000FF\n", 7) == 0;
    wince_pos_ = 15;
  }
  if (!is_wince_) return false;
  while (wince_pos_ + 12 <= r.size()) {
    const std::uint32_t address = le32(&r[wince_pos_]);
    const std::uint32_t length = le32(&r[wince_pos_ + 4]);
    const std::uint32_t checksum = le32(&r[wince_pos_ + 8]);
    if (address == 0 && checksum == 0) return true;  // terminator: no data follows
    if (r.size() - (wince_pos_ + 12) < length) return false;
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < length; ++i) sum += r[wince_pos_ + 12 + i];
    if (sum != checksum) ++checksum_errors_;
    wince_pos_ += 12 + std::size_t{length};
  }
  return false;
}

void SerialBootloader::take(const std::uint8_t* data, std::size_t size) {
  std::size_t total = 0;
  bool wince_end = false;
  {
    std::lock_guard lock(mutex_);
    received_.insert(received_.end(), data, data + size);
    total = received_.size();
    bytes_seen_ = total;
    if (!config_.expected) wince_end = scan_wince_end();
  }
  changed_.notify_all();
  if (config_.vanish_after > 0 && total >= config_.vanish_after) {
    master_.close();
    {
      std::lock_guard lock(mutex_);
      phase_ = Phase::gone;
    }
    changed_.notify_all();
    return;
  }
  if (config_.stall_after > 0 && total >= config_.stall_after) {
    bool stalling = false;
    {
      std::lock_guard lock(mutex_);
      stalling = !paused_;
      paused_ = true;
    }
    if (stalling) print(format("Flash busy at %zu bytes: not taking data\r\n", total));
    return;
  }
  while (config_.progress_every > 0 && total >= next_progress_) {
    print(format("Receiving: %zu KB\r\n", next_progress_ / 1024));
    next_progress_ += config_.progress_every;
  }
  if (config_.expected) {
    const auto& want = *config_.expected;
    if (total < want.size()) return;
    const auto got = received();
    std::size_t mismatch = 0;
    while (mismatch < want.size() && got[mismatch] == want[mismatch]) ++mismatch;
    if (total > want.size()) {
      finish(false, format("Image too long: %zu bytes, expected %zu\r\n", total, want.size()));
    } else if (mismatch < want.size()) {
      finish(false, format("Image received: %zu bytes, MISMATCH at byte %zu\r\n", total, mismatch));
    } else {
      finish(true, format("Image received: %zu bytes, OK\r\n", total));
    }
  } else if (wince_end) {
    if (checksum_errors_ > 0) {
      finish(false, format("Image received: %zu bytes, %d record checksum errors\r\n", total,
                           checksum_errors_));
    } else {
      finish(true, format("Image received: %zu bytes, OK\r\n", total));
    }
  }
}

bool SerialBootloader::take_requests(bool& paused) {
  bool vanish = false;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return false;
    vanish = vanish_requested_;
    paused = paused_;
  }
  if (vanish && phase_ != Phase::gone) {
    master_.close();
    {
      std::lock_guard lock(mutex_);
      phase_ = Phase::gone;
    }
    changed_.notify_all();
  }
  return true;
}

void SerialBootloader::step_receiving(serial::Wait w, bool paused,
                                      std::vector<std::uint8_t>& chunk) {
  if (w == serial::Wait::ready && !paused) {
    const long n = master_.read(chunk);
    if (n > 0) {
      quiet_polls_ = 0;
      take(chunk.data(), static_cast<std::size_t>(n));
    }
  } else if (w == serial::Wait::timeout && !config_.expected && !is_wince_ && bytes_seen_ > 0 &&
             ++quiet_polls_ >= raw_end_quiet_polls) {
    const std::size_t total = received().size();
    finish(true, format("Image received: %zu bytes\r\n", total));
  } else if (w == serial::Wait::hangup || paused) {
    pause_ms(poll_ms);  // between the program's detection and its download, or stalled
  }
}

void SerialBootloader::step_done(serial::Wait w, std::vector<std::uint8_t>& chunk) {
  // Once the program lets go of the line, the module starts over.
  if (w == serial::Wait::hangup) {
    phase_ = Phase::waiting_for_open;
    pause_ms(poll_ms);
  }
  if (w == serial::Wait::ready) {
    const long n = master_.read(chunk);  // more than the image: ignored
    (void)n;
  }
}

void SerialBootloader::run() {
  std::vector<std::uint8_t> chunk(64 * 1024);
  for (;;) {
    bool paused = false;
    if (!take_requests(paused)) return;
    if (phase_ == Phase::gone) {
      pause_ms(poll_ms);
      continue;
    }
    const serial::Wait w = master_.wait_readable(poll_ms);
    switch (phase_) {
      case Phase::waiting_for_open:
        // While no program has the line open the device end reports hang-up.
        if (w != serial::Wait::hangup) {
          boot();
        } else {
          pause_ms(poll_ms);
        }
        break;
      case Phase::receiving:
        step_receiving(w, paused, chunk);
        break;
      case Phase::done:
        step_done(w, chunk);
        break;
      case Phase::gone:
        break;
    }
  }
}

}  // namespace dz::sim
