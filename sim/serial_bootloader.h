#pragma once
// A module's serial bootloader at the far end of a pseudo-terminal: when a program opens the line
// it prints its console banner and the ready sequence, then takes the image, prints its progress
// and a result line. After a finished image and the line being closed it boots again.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "platform/thread.h"

namespace dz::sim {

struct SerialBootloaderConfig {
  // The banner is padded with boot log lines to at least this many bytes (0: the short banner).
  std::size_t banner_bytes = 0;
  // The ready sequence goes out in two writes with a pause between them.
  bool split_ready = false;
  // A broken start of the sequence (AA 55 55) comes right before the real one, which a loader
  // does not recognise after it; a clean sequence follows a pause later.
  bool broken_prefix = false;
  // The image the module should receive; the result line says whether it matched. Without it a
  // Windows CE image ends at its terminator record and anything else after a quiet half second.
  std::optional<std::vector<std::uint8_t>> expected;
  // The line goes dead once this many image bytes have arrived (0: never).
  std::size_t vanish_after = 0;
  // The module stops taking data once this many image bytes have arrived (0: never), and says so
  // on its console ("Flash busy").
  std::size_t stall_after = 0;
  // A progress line every so many bytes.
  std::size_t progress_every = 256 * 1024;
  // Pause between the two halves of a split sequence, and before the sequence (real time).
  std::uint32_t split_pause_ms = 250;
};

class SerialBootloader {
 public:
  // Creates the pseudo-terminal and starts the module; nullptr with `error` filled on failure.
  static std::unique_ptr<SerialBootloader> start(SerialBootloaderConfig config, std::string& error);
  ~SerialBootloader();
  SerialBootloader(const SerialBootloader&) = delete;
  SerialBootloader& operator=(const SerialBootloader&) = delete;

  // The program's end of the line.
  const std::string& port_name() const { return port_name_; }

  // Image bytes received since the last boot.
  std::vector<std::uint8_t> received() const;
  // Everything the module printed, in order.
  std::string console() const;
  // How many times a ready sequence went out (with or without the broken start).
  int ready_count() const;
  // The result of the last image: nothing yet, true (matched or well-formed), false.
  std::optional<bool> result() const;

  // Wait (real time) for a condition; false on time-out.
  bool wait_received(std::size_t bytes, std::uint32_t timeout_ms) const;
  bool wait_result(std::uint32_t timeout_ms) const;
  bool wait_ready_sent(int count, std::uint32_t timeout_ms) const;

  // Stops taking data (the line stalls) or takes it again.
  void pause_reading(bool paused);
  // Pulls the cable: the line is closed at once.
  void vanish();

 private:
  explicit SerialBootloader(SerialBootloaderConfig config);
  void run();
  // The module thread's steps: take_requests is false when stopping, and closes the device end
  // when vanish was asked; the step_ functions handle one poll in their phase.
  bool take_requests(bool& paused);
  void step_receiving(serial::Wait w, bool paused, std::vector<std::uint8_t>& chunk);
  void step_done(serial::Wait w, std::vector<std::uint8_t>& chunk);
  void boot();
  void take(const std::uint8_t* data, std::size_t size);
  void print(const std::string& text);
  void send_sequence(const std::string& bytes);
  void finish(bool ok, const std::string& line);
  bool scan_wince_end();
  bool pause_ms(std::uint32_t ms);  // false when stopping

  SerialBootloaderConfig config_;
  std::string port_name_;
  serial::Port master_;  // used by the module's thread only (vanish asks it)

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  bool vanish_requested_ = false;
  bool paused_ = false;
  std::vector<std::uint8_t> received_;
  std::string console_;
  int ready_count_ = 0;
  std::optional<bool> result_;

  // Module state (the thread's own).
  enum class Phase { waiting_for_open, receiving, done, gone };
  std::atomic<Phase> phase_ = Phase::waiting_for_open;  // read by vanish()
  std::size_t bytes_seen_ = 0;
  std::size_t next_progress_ = 0;
  std::size_t wince_pos_ = 0;  // next record header while following a Windows CE image
  bool wince_checked_ = false;
  bool is_wince_ = false;
  int checksum_errors_ = 0;
  int quiet_polls_ = 0;

  threads::Thread thread_;
};

}  // namespace dz::sim
