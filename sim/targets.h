#pragma once
// Simulated modules that stand in for hardware (`--target sim:NAME[,key=value...]` on the command
// line, the demo, dividezurirer-sim). Each family of models lives in its own file; this table joins
// them.
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace dz::sim {

// A running simulation; destroying it stops the model and points the program back at hardware.
class Session {
 public:
  virtual ~Session() = default;
};

using TargetOptions = std::map<std::string, std::string>;  // "flash" -> "FILE", ...

struct TargetModel {
  const char* name;         // e.g. "pxa270-j3x16"
  const char* interface;    // "jtag", "serial", "ethernet" or "production"
  const char* description;  // one line for --help and error messages
  // Starts the model and points the program's hardware access at it (port backend, serial port
  // name, module address). Returns nullptr and fills `error` on failure.
  std::unique_ptr<Session> (*attach)(const TargetOptions& options, std::string& error);
};

// Models of each family (defined in that family's file) and all of them in one list.
std::span<const TargetModel> jtag_target_models();
std::span<const TargetModel> serial_target_models();
std::span<const TargetModel> ethernet_target_models();
std::span<const TargetModel> production_target_models();  // JTAG, Ethernet and serial together
std::vector<TargetModel> all_target_models();
const TargetModel* find_target_model(const std::string& name);
// Splits a target of the form "sim:MODEL[,key=value...]" into the model name and its options;
// false with `error` filled when it is not of that form.
bool parse_target(const std::string& target, std::string& model, TargetOptions& options,
                  std::string& error);

// Option values: a whole unsigned number in `base` (16 also takes a "0x" prefix); false for
// anything else, signs and blanks included.
bool parse_number(const std::string& text, std::uint64_t& value, int base = 10);
// The same, at most `max`, stored in `out`.
template <typename T>
bool parse_bounded(const std::string& text, T& out, std::uint64_t max, int base = 10) {
  std::uint64_t n = 0;
  if (!parse_number(text, n, base) || n > max) return false;
  out = static_cast<T>(n);
  return true;
}

}  // namespace dz::sim
