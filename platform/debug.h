#pragma once
// Diagnostic output: lines for the debugger (OutputDebugStringA on Windows) and, behind the echo
// flag, standard output. Tests can capture the lines.
#include <atomic>
#include <functional>
#include <string>
#include <string_view>

namespace dz {

// Bit 0 set: debug lines are also written to standard output. Default 1.
extern std::atomic<int> debug_echo_flag;

// Formats into 512 characters, appends "\r\n", sends it to the debugger (and standard output).
void debug_print(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same line as "INFO: <text>".
void debug_info(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Formats into 512 characters, appends "\r\n", shows a message box without owner, caption
// "Error", error icon.
void show_error(const char* format, ...) __attribute__((format(printf, 1, 2)));

namespace debug {
// Receives every debug line (with its "\r\n") in addition to the normal outputs; empty = none.
// Returns the previous sink.
using Sink = std::function<void(std::string_view line)>;
Sink set_sink(Sink sink);
// Platform part: hands a finished line to the debugger.
void output_to_debugger(const std::string& line);
}  // namespace debug

}  // namespace dz
