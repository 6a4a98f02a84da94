// Serial ports through the Win32 communications functions: CreateFileA on the name as given,
// the DCB and COMMTIMEOUTS fields the loader sets, synchronous reads and writes.
#include <windows.h>

#include <cstdio>

#include "platform/serial_port.h"

namespace dz::serial {

namespace {

HANDLE handle_of(std::intptr_t h) {
  return reinterpret_cast<HANDLE>(h);
}

// A bare "COMn" reaches the port through the device namespace: CreateFileA knows only COM1 to
// COM9 by their plain names, so "COM10" would be looked for as a file. Every other name is used
// as given (a "\\.\" path, "COM1:", NUL...).
std::string device_path(const std::string& name) {
  if (name.size() < 4 || name.size() > 8) return name;
  for (std::size_t i = 0; i < 3; ++i) {
    if ((name[i] & ~0x20) != "COM"[i]) return name;
  }
  if (name[3] == '0') return name;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return name;
  }
  return "\\\\.\\" + name;
}

HANDLE create_port(const std::string& name) {
  return CreateFileA(device_path(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

// False when the port no longer answers: the device was removed, or the far end of the line
// hung up. A synchronous ReadFile then still succeeds with no bytes, which looks like silence.
bool port_alive(HANDLE h) {
  DWORD errors = 0;
  COMSTAT status{};
  return ClearCommError(h, &errors, &status) != FALSE;
}

}  // namespace

Port Port::open(const std::string& name, OpenError* error) {
  HANDLE h = create_port(name);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) {
      const DWORD e = GetLastError();
      *error = e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND     ? OpenError::not_found
               : e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION ? OpenError::in_use
                                                                          : OpenError::other;
    }
    return Port{};
  }
  if (error) *error = OpenError::none;
  return Port{reinterpret_cast<std::intptr_t>(h)};
}

void Port::Close::release(std::intptr_t handle) {
  CloseHandle(handle_of(handle));
}

void Port::close() {
  handle_.reset();
}

void Port::configure_line() {
  if (!is_open()) return;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  GetCommState(handle_of(handle_.get()), &dcb);
  dcb.BaudRate = 115200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fParity = 1;
  dcb.fErrorChar = 1;
  dcb.fAbortOnError = 0;
  dcb.ErrorChar = static_cast<char>(0xCE);
  SetCommState(handle_of(handle_.get()), &dcb);
}

void Port::set_speed_and_framing() {
  if (!is_open()) return;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  GetCommState(handle_of(handle_.get()), &dcb);
  dcb.BaudRate = 115200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  SetCommState(handle_of(handle_.get()), &dcb);
}

void Port::set_immediate_reads() {
  if (!is_open()) return;
  COMMTIMEOUTS t{};
  GetCommTimeouts(handle_of(handle_.get()), &t);
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = 0;
  t.ReadTotalTimeoutConstant = 0;
  SetCommTimeouts(handle_of(handle_.get()), &t);
}

void Port::set_read_timeouts(const ReadTimeouts& timeouts) {
  if (!is_open()) return;
  COMMTIMEOUTS t{};
  GetCommTimeouts(handle_of(handle_.get()), &t);
  t.ReadIntervalTimeout = timeouts.interval;
  t.ReadTotalTimeoutMultiplier = timeouts.multiplier;
  t.ReadTotalTimeoutConstant = timeouts.constant;
  SetCommTimeouts(handle_of(handle_.get()), &t);
  timeouts_ = timeouts;
}

long Port::read_timed(std::span<std::uint8_t> buffer) {
  return read(buffer);  // ReadFile follows the read time-outs set above
}

Wait Port::wait_readable(std::uint32_t timeout_ms) {
  if (!is_open()) return Wait::hangup;
  // The port is synchronous: look at the input queue every few milliseconds. A port that went
  // away (USB adapter unplugged) fails ClearCommError.
  const DWORD start = GetTickCount();
  for (;;) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle_of(handle_.get()), &errors, &status)) return Wait::hangup;
    if (status.cbInQue > 0) return Wait::ready;
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeout_ms) return Wait::timeout;
    Sleep(timeout_ms - elapsed < 10 ? timeout_ms - elapsed : 10);
  }
}

long Port::read(std::span<std::uint8_t> buffer) {
  if (!is_open()) return -1;
  if (buffer.empty()) return 0;
  const HANDLE h = handle_of(handle_.get());
  DWORD got = 0;
  const DWORD want = buffer.size() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(buffer.size());
  if (!ReadFile(h, buffer.data(), want, &got, nullptr))
    return got > 0 ? static_cast<long>(got) : -1;
  if (got == 0 && !port_alive(h)) return -1;
  return static_cast<long>(got);
}

long Port::write(std::span<const std::uint8_t> data, std::uint32_t timeout_ms) {
  if (!is_open()) return -1;
  if (data.empty()) return 0;
  const HANDLE h = handle_of(handle_.get());
  // The wait is the port's total write time-out; both time-out fields at zero would mean no limit.
  const DWORD limit = timeout_ms == 0 ? 1 : timeout_ms;
  if (write_timeout_ms_ != limit) {
    COMMTIMEOUTS t{};
    GetCommTimeouts(h, &t);
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = limit;
    if (SetCommTimeouts(h, &t)) write_timeout_ms_ = limit;
  }
  DWORD written = 0;
  const DWORD want = data.size() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(data.size());
  const BOOL ok = WriteFile(h, data.data(), want, &written, nullptr);
  if (written > 0) return static_cast<long>(written);
  // Nothing went out: a line that is gone, or a device that did not take data in time.
  return !ok || !port_alive(h) ? -1 : 0;
}

std::string test_log_port() {
  return "COM1:";
}

std::size_t port_name_capacity() {
  return 16;
}

std::string default_port_name() {
  return "COM1";
}

std::vector<std::string> list_ports() {
  std::vector<std::string> ports;
  for (int n = 1; n <= 10; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "COM%d", n);
    HANDLE h = create_port(name);
    if (h == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_NOT_FOUND) continue;  // only a missing port is left out
    } else {
      CloseHandle(h);
    }
    ports.emplace_back(name);
  }
  return ports;
}

std::vector<std::string> list_ports_under(const std::string&, const std::string&) {
  return list_ports();
}

bool port_exists(const std::string& name) {
  if (name.empty()) return false;
  HANDLE h = create_port(name);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = GetLastError();
    return e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND && e != ERROR_INVALID_NAME;
  }
  CloseHandle(h);
  return true;
}

bool open_pseudo_terminal(PseudoTerminal&, std::string& error) {
  error = "pseudo-terminals are not available on Windows";
  return false;
}

bool take_as_controlling_terminal(const std::string&) {
  return false;
}

}  // namespace dz::serial
