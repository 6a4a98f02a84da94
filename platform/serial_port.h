#pragma once
// Serial ports: open by name for exclusive use, give the line 115200 baud 8N1, reads that return
// at once with whatever has arrived, bounded waits for input that notice a vanished port, writes,
// the list of ports present, and pseudo-terminal pairs (the simulated module's end of a line).
//
// Waits are in real time: they stand for a device that answers when it answers.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handle.h"

namespace dz::serial {

enum class OpenError {
  none,
  not_found,  // no such port (Win32 ERROR_FILE_NOT_FOUND, POSIX ENOENT/ENODEV/ENXIO)
  in_use,     // another program has it
  other,
};

enum class Wait {
  ready,    // input has arrived
  timeout,  // nothing within the time given
  hangup,   // the other side is gone (device unplugged, pseudo-terminal closed)
};

struct PseudoTerminal;

// One open port. Closing (or destroying) releases exclusive use first.
class Port {
 public:
  Port() = default;

  // Opens `name` (Win32: CreateFileA GENERIC_READ|GENERIC_WRITE, no sharing, OPEN_EXISTING; a
  // bare "COMn" is opened as "\\.\COMn", which is the only way to reach COM10 and above; POSIX: a
  // device path, O_RDWR|O_NOCTTY|O_NONBLOCK, then exclusive use).
  static Port open(const std::string& name, OpenError* error = nullptr);

  bool is_open() const { return handle_.valid(); }
  void close();

  // Full line set-up for waiting on a bootloader: 115200 baud, 8 data bits, no parity, one stop
  // bit. Win32: the DCB keeps what GetCommState returned except BaudRate, ByteSize, Parity,
  // StopBits, fParity set, fErrorChar set, fAbortOnError cleared, ErrorChar 0xCE. POSIX: raw mode,
  // CS8|CLOCAL|CREAD, no flow control. Results of the underlying calls are not reported.
  void configure_line();
  // Speed and framing only (115200 8N1); every other setting stays as it was.
  void set_speed_and_framing();
  // Reads return at once with what has arrived (Win32 COMMTIMEOUTS ReadIntervalTimeout MAXDWORD,
  // the two read totals 0, write time-outs kept; POSIX VMIN 0, VTIME 0).
  void set_immediate_reads();

  // Read time-outs in milliseconds, as the Win32 COMMTIMEOUTS read fields have them: a timed read
  // ends when its buffer is full, when more than `interval` passes between two bytes, or when
  // `multiplier` x bytes asked + `constant` has passed since it began.
  struct ReadTimeouts {
    std::uint32_t interval = 0;
    std::uint32_t multiplier = 0;
    std::uint32_t constant = 0;
  };
  // Win32: GetCommTimeouts, the three read fields set, write time-outs kept, SetCommTimeouts.
  // POSIX: the line is put into raw mode (time-outs need non-canonical input) and the values are
  // kept for read_timed.
  void set_read_timeouts(const ReadTimeouts& timeouts);
  // One read under those time-outs (Win32 ReadFile). Returns the count (0 when nothing came in
  // time), or -1 when the port has failed or the other side is gone with nothing read.
  long read_timed(std::span<std::uint8_t> buffer);

  // Waits at most `timeout_ms` for input.
  Wait wait_readable(std::uint32_t timeout_ms);
  // Reads what has arrived, at most buffer.size() bytes, without waiting. Returns the count (0 when
  // nothing is there), or -1 when the port has failed or the other side is gone.
  long read(std::span<std::uint8_t> buffer);
  // Writes as much as the port takes within `timeout_ms` (Win32: the port's total write time-out
  // becomes `timeout_ms`, the read time-outs stay). Returns the bytes written, or -1 when the port
  // failed or the other side is gone before any byte went out.
  long write(std::span<const std::uint8_t> data, std::uint32_t timeout_ms);

 private:
  friend bool open_pseudo_terminal(PseudoTerminal& pty, std::string& error);
  // Gives up exclusive use and closes the port (defined by each platform).
  struct Close {
    static void release(std::intptr_t handle);
  };
  explicit Port(std::intptr_t handle) : handle_(handle) {}
  UniqueHandle<Close> handle_;
  ReadTimeouts timeouts_{};                              // POSIX: what read_timed follows
  [[maybe_unused]] std::uint32_t write_timeout_ms_ = 0;  // Win32: the write time-out last given
};

// The platform's first serial port: "COM1" on Windows, "/dev/ttyS0" elsewhere.
std::string default_port_name();
// The port the production test logs from when none is named: "COM1:" on Windows, elsewhere the
// first port list_ports() finds ("" when there is none).
std::string test_log_port();
// Room for a port name including its terminator: 16 on Windows ("COM10" and the like), 256
// elsewhere (device paths such as /dev/serial/by-id/usb-FTDI_..._if00-port0 are long).
std::size_t port_name_capacity();

// A process-wide port name that, when not empty, is used instead of the configured one (the
// simulated serial module points the program at its pseudo-terminal this way). Thread-safe.
std::string com_port_override();
void set_com_port_override(std::string_view name);

// Ports present. Win32: "COM1".."COM10", each tried with CreateFileA (as Port::open names it)
// and skipped only when that fails with ERROR_FILE_NOT_FOUND (a port in use is listed). POSIX:
// /dev/ttyS*, ttyUSB*, ttyACM* found under /sys/class/tty (an 8250 slot with no UART behind it,
// type 0, is not a port), and the links under /dev/serial/by-id; a port is never opened for this,
// so a busy one is listed and no modem line moves. Sorted on POSIX.
std::vector<std::string> list_ports();
// The POSIX rule with other roots (tests build a small tree); Win32 ignores the roots.
std::vector<std::string> list_ports_under(const std::string& sys_class_tty,
                                          const std::string& dev_dir);
// True when `name` names a serial port that exists. Win32: CreateFileA finds it. POSIX: a terminal
// device (the tty class, or a pseudo-terminal), found without opening it; /dev/null, files and
// folders are not ports.
bool port_exists(const std::string& name);

// A pseudo-terminal pair, raw on both ends. `master` is the simulated device's end; the program
// opens `slave_name` like any port. Not available on Windows (returns false with a reason).
struct PseudoTerminal {
  Port master;
  std::string slave_name;
};
// On the master end, wait_readable reports `hangup` while no program has the slave end open.
bool open_pseudo_terminal(PseudoTerminal& pty, std::string& error);

// Makes the pseudo-terminal `slave_name` the controlling terminal of this process's session, when
// the process leads a session that has none (a device end started with setsid). A line served to
// programs under Wine needs this: otherwise the wineserver, a session leader that opens the line
// without O_NOCTTY, takes it as its own terminal and is sent SIGHUP on every hang-up of the line.
// The line is not kept open, so the device end still sees hang-up while no program has it open;
// this process ignores SIGHUP from then on. False when nothing was done (Windows: always).
bool take_as_controlling_terminal(const std::string& slave_name);

}  // namespace dz::serial
