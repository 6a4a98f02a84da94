#pragma once
// What the stand-in HTML Help control records of each HtmlHelpA call.
#include <windows.h>

struct FakeHelpCall {
  HWND window;
  char file[260];  // the file and topic text, cut at 259 characters
  UINT command;
  DWORD_PTR data;
  int search_record_size;  // cbStruct of the search record for HH_DISPLAY_SEARCH, else 0
};

// The value the stand-in's HtmlHelpA returns, so a caller's result can be traced to it.
#define FAKE_HHCTRL_RESULT 0x5150

// Exported by name: copies up to `max` recorded calls, oldest first; returns how many there were.
using FakeHelpCallsProc = int (*)(FakeHelpCall* out, int max);
