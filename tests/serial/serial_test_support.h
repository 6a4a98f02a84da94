#pragma once
// Shared pieces of the serial suites: the shared fixture, images, pseudo-terminals.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "tests/support/host_fixture.h"
#include "tests/support/temp_dir.h"

namespace dz::test {

// A Windows CE image whose records hold `record_sizes` bytes each, from 0x80000000 on.
std::vector<std::uint8_t> wince_image(const std::vector<std::size_t>& record_sizes,
                                      std::uint32_t seed);

// Pseudo-terminals stand in for the far end of a line. Where there are none (the Windows build),
// the tests that need one are skipped; under Wine the Win32 port and the serial dialogs are tested
// against native peers instead (tests/gui_win32: serial_port_wine, serial_gui_win32).
bool pseudo_terminals_available();
#define DZ_REQUIRE_PTY()                         \
  if (!::dz::test::pseudo_terminals_available()) \
  GTEST_SKIP() << "no pseudo-terminals on this platform"
// A new pseudo-terminal pair; failing to make one fails the test.
serial::PseudoTerminal pseudo_terminal();

// The serial suites run on the shared fixture: the serial interface, the settings store (in
// memory), the headless host and the flags are reset around every test.
using SerialTest = HostTest;

}  // namespace dz::test
