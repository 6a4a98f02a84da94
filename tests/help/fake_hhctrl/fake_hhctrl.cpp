// A stand-in for hhctrl.ocx: HtmlHelpA (exported as ordinal 14, as the real control does) records
// its arguments instead of showing anything.
#include "tests/help/fake_hhctrl/fake_hhctrl.h"

#include <cstring>

namespace {
constexpr int capacity = 16;
FakeHelpCall recorded[capacity];
int recorded_count = 0;
}  // namespace

extern "C" {

HWND WINAPI HtmlHelpA(HWND window, LPCSTR file, UINT command, DWORD_PTR data) {
  if (recorded_count < capacity) {
    FakeHelpCall& call = recorded[recorded_count];
    call = FakeHelpCall{};
    call.window = window;
    if (file) std::strncpy(call.file, file, sizeof call.file - 1);
    call.command = command;
    call.data = data;
    // HH_DISPLAY_SEARCH takes a record whose first member is its size.
    if (command == 3 && data != 0) call.search_record_size = *reinterpret_cast<const int*>(data);
  }
  ++recorded_count;
  return reinterpret_cast<HWND>(static_cast<DWORD_PTR>(FAKE_HHCTRL_RESULT));
}

int fake_hhctrl_calls(FakeHelpCall* out, int max) {
  for (int i = 0; i < recorded_count && i < capacity && i < max; ++i) out[i] = recorded[i];
  return recorded_count;
}
}
