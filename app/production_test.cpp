// The production test window: bootloader over JTAG, image over Ethernet, the module's serial
// output logged into a file named after the four identification fields, "OK" as the verdict.
#include "app/production_test.h"

#include <array>
#include <cstdio>
#include <memory>
#include <mutex>

#include "download/detection_dialog.h"
#include "download/interface.h"
#include "download/job.h"
#include "ethernet/device_list.h"
#include "flash/bad_block_table.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/thread.h"
#include "resources/resource.h"
#include "state/process_state.h"

namespace dz {

std::atomic<int> test_stop_flag{0};

namespace {

constexpr std::size_t field_capacity = 16;  // including the terminator
constexpr std::size_t header_size = 15;     // BinImageHeader
constexpr std::uint32_t wait_slice_ms = 20;

constexpr const char* initial_fields[4] = {"RSDA1", "A001", "0", "V000001"};
constexpr int field_ids[4] = {IDC_TEST_FIELD1, IDC_TEST_FIELD2, IDC_TEST_FIELD3, IDC_TEST_FIELD4};

struct TestState {
  std::mutex mutex;  // guards log_port
  std::string log_port;
  threads::Thread log_thread;  // the user-interface thread's own
  std::atomic<int> ok_received{0};
  std::atomic<int> result{-1};
  std::atomic<int> dump_result{-1};
};

TestState& state() {
  static TestState s;
  return s;
}

std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The first 15 bytes of `path` (missing bytes read as 0); false when the file cannot be opened.
// Only a regular file is opened: a FIFO of that name would block the window.
bool read_header(const char* path, std::array<std::uint8_t, header_size>& header) {
  header.fill(0);
  if (!files::is_regular_file(path)) return false;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), std::fclose);
  if (!file) return false;
  const std::size_t got = std::fread(header.data(), 1, header.size(), file.get());
  (void)got;
  return true;
}

std::string field_text(ui::Window dlg, int id) {
  std::string text = ui::text(dlg, id);
  if (text.size() >= field_capacity) text.resize(field_capacity - 1);
  return text;
}

// The log thread: the log file, the line, then everything the module sends until it answers "OK"
// in a read of its own or the test ends.
void log_routine(ui::Window dlg) {
  const std::string name =
      log_file_name(field_text(dlg, IDC_TEST_FIELD1), field_text(dlg, IDC_TEST_FIELD2),
                    field_text(dlg, IDC_TEST_FIELD3), field_text(dlg, IDC_TEST_FIELD4));
  // A field holding a path separator would put the log somewhere else: such a name is refused.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> log(
      name.find_first_of("/\\") == std::string::npos ? std::fopen(name.c_str(), "w+b") : nullptr,
      std::fclose);
  if (!log) {
    ui::message_box(ui::no_window, "Cannot Create LogFile", "ERROR", ui::MB_OK);
    return;
  }
  serial::Port port = serial::Port::open(log_port_name());
  if (!port.is_open()) {
    ui::message_box(ui::no_window, "Cannot open COM port", "ERROR", ui::MB_OK);
    return;
  }
  port.set_speed_and_framing();
  port.set_read_timeouts(log_read_timeouts);
  std::array<std::uint8_t, 256> buffer;
  while (test_stop_flag.load() == 0) {
    const long n = port.read_timed(buffer);
    if (n < 0) break;  // the line is gone: nothing more can come
    if (n > 0) {
      std::fwrite(buffer.data(), 1, static_cast<std::size_t>(n), log.get());
      std::fflush(log.get());
    }
    if (n == 2 && buffer[0] == 'O' && buffer[1] == 'K') {
      state().ok_received = 1;
      break;
    }
  }
}

// Waits at most log_wait_ms on the program clock for the log thread. The clock is read, not
// slept on, while the thread may still end; on the virtual clock the waiting itself moves time.
bool wait_for_log_thread() {
  auto& s = state();
  const std::uint32_t start = clock::tick_ms();
  for (;;) {
    if (s.log_thread.wait(wait_slice_ms)) return true;
    if (clock::is_virtual()) clock::sleep_ms(wait_slice_ms);
    if (clock::tick_ms() - start >= log_wait_ms) return !s.log_thread.running();
  }
}

void run_test(ui::Window dlg) {
  auto& s = state();
  std::array<std::uint8_t, header_size> boot{};
  std::array<std::uint8_t, header_size> image{};
  if (!read_header("eboot.bin", boot)) {
    ui::message_box(dlg, "File eboot.bin not found\n", "File Error", ui::MB_ICONERROR);
    return;
  }
  if (!read_header("nk.bin", image)) {
    ui::message_box(dlg, "File nk.bin not found\n", "File Error", ui::MB_ICONERROR);
    return;
  }
  ui::enable(dlg, IDC_TEST_START, false);
  // A log thread of an earlier test must have let go of the line and the file first.
  production_test_join_log_thread();
  test_stop_flag = 0;
  s.ok_received = 0;
  s.log_thread = threads::Thread::start([dlg] { log_routine(dlg); });

  int result = start_download_job(dlg, jtag_interface_index, "eboot.bin", 0, le32(&boot[7]),
                                  le32(&boot[11]), 1);
  if (result != 0)
    result = start_download_job(dlg, ethernet_interface_index, "nk.bin", 0, le32(&image[7]),
                                le32(&image[11]), 0);
  // The test passes only when the module's "OK" was received: a log thread that ended because
  // it could not create the log or open the line is no pass.
  const bool passed = result != 0 && wait_for_log_thread() && s.ok_received.load() != 0;
  s.result = passed ? 1 : 0;
  if (passed)
    ui::message_box(dlg, "Test Successful", "Test Results", ui::MB_ICONINFORMATION);
  else
    ui::message_box(dlg, "Test Failed", "Test Results", ui::MB_ICONERROR);
  ui::enable(dlg, IDC_TEST_START, true);
  test_stop_flag = 1;
}

void dump_bad_block_table(ui::Window dlg) {
  auto& s = state();
  s.dump_result = 0;
  if (run_detection_dialog(dlg, jtag_interface_index) == 0) return;
  // Reading the table must not cost the module its flash: the StrataFlash probe's test-mode erase
  // is left out of this open.
  const int test_mode = test_mode_flag.exchange(0);
  const auto open = download_interfaces[jtag_interface_index].open;
  const int opened = open ? open(dlg) : 0;
  test_mode_flag = test_mode;
  if (opened == 0) return;
  s.dump_result = 1;
  bbt_dump();
}

}  // namespace

int production_test_result() {
  return state().result.load();
}

int bad_block_dump_result() {
  return state().dump_result.load();
}

void set_log_port(std::string_view name) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  s.log_port = std::string(name);
}

std::string log_port_name() {
  auto& s = state();
  {
    std::lock_guard lock(s.mutex);
    if (!s.log_port.empty()) return s.log_port;
  }
  std::string simulated = serial::com_port_override();
  return simulated.empty() ? serial::test_log_port() : simulated;
}

std::string log_file_name(const std::string& f1, const std::string& f2, const std::string& f3,
                          const std::string& f4) {
  // Four fields of at most 15 characters: the name always fits and keeps its ".log".
  return f1 + "-" + f2 + "-" + f3 + "-" + f4 + ".log";
}

ui::DialogProc production_test_dialog_proc() {
  ui::DialogProc proc;
  proc.init = [](ui::Window dlg, std::intptr_t) {
    ui::set_icon(dlg, IDI_MAIN);
    for (int i = 0; i < 4; ++i) ui::set_text(dlg, field_ids[i], initial_fields[i]);
    test_mode_flag = 1;
  };
  proc.command = [](ui::Window dlg, const ui::Command& command) {
    switch (command.id) {
      case ui::IDCANCEL:
        ui::end_dialog(dlg, 1);
        break;
      case IDC_TEST_START:
        run_test(dlg);
        break;
      case IDC_TEST_DUMP_BBT:
        dump_bad_block_table(dlg);
        break;
      default:
        break;
    }
  };
  proc.destroy = [](ui::Window) {
    device_count = 0;
    if (download_interfaces[ethernet_interface_index].close)
      download_interfaces[ethernet_interface_index].close();
    // The log file and the line are closed before the program goes on (or ends).
    test_stop_flag = 1;
    production_test_join_log_thread();
  };
  return proc;
}

std::intptr_t run_production_test(ui::Window owner) {
  return ui::run_dialog(IDD_PRODUCTION_TEST, owner, production_test_dialog_proc());
}

void production_test_join_log_thread() {
  auto& s = state();
  if (!s.log_thread) return;
  // A read ends within its time-outs; the thread then sees the stop flag. A thread that does not
  // end even so (a driver stuck in a read) is let go.
  const auto& t = log_read_timeouts;
  s.log_thread.wait(t.multiplier * 256 + t.constant + t.interval + 1000);
  s.log_thread = threads::Thread();
}

void reset_production_test_state() {
  auto& s = state();
  test_stop_flag = 1;
  production_test_join_log_thread();
  test_stop_flag = 0;
  s.ok_received = 0;
  s.result = -1;
  s.dump_result = -1;
  set_log_port("");
  test_mode_flag = 0;
}

}  // namespace dz
