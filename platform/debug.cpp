// Diagnostic lines and the error box. Every line is formatted into 512 characters and ends with
// "\r\n"; it goes to the debugger, to standard output while bit 0 of the echo flag is set, and to
// the test sink if one is installed.
#include "platform/debug.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>

#include "platform/ui.h"

namespace dz {

std::atomic<int> debug_echo_flag{1};

namespace {

constexpr std::size_t message_size = 512;

struct DebugState {
  std::mutex mutex;
  std::shared_ptr<const debug::Sink> sink;
  std::mutex stdout_mutex;  // keeps echoed lines whole when threads print at once
};

DebugState& state() {
  static DebugState s;
  return s;
}

// vsnprintf into the fixed buffer; an encoding error leaves an empty text.
std::string format_message(const char* format, va_list args) {
  char buffer[message_size];
  if (!format || std::vsnprintf(buffer, sizeof buffer, format, args) < 0) buffer[0] = '\0';
  return std::string(buffer);
}

void emit_line(std::string line) {
  line += "\r\n";
  if (debug_echo_flag.load() & 1) {
    std::lock_guard lock(state().stdout_mutex);
    // Standard output gets a plain line end; the C runtime adds "\r" in text mode on Windows.
    std::fwrite(line.data(), 1, line.size() - 2, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  debug::output_to_debugger(line);
  std::shared_ptr<const debug::Sink> sink;
  {
    std::lock_guard lock(state().mutex);
    sink = state().sink;
  }
  if (sink && *sink) (*sink)(line);
}

}  // namespace

void debug_print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = format_message(format, args);
  va_end(args);
  emit_line(std::move(text));
}

void debug_info(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = format_message(format, args);
  va_end(args);
  debug_print("INFO: %s", text.c_str());
}

void show_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = format_message(format, args);
  va_end(args);
  text += "\r\n";
  ui::message_box(ui::no_window, text, "Error", ui::MB_ICONERROR);
}

namespace debug {

Sink set_sink(Sink sink) {
  auto next = sink ? std::make_shared<const Sink>(std::move(sink)) : nullptr;
  std::lock_guard lock(state().mutex);
  std::shared_ptr<const Sink> previous = std::move(state().sink);
  state().sink = std::move(next);
  return previous ? *previous : Sink{};
}

}  // namespace debug
}  // namespace dz
