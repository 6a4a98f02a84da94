// The headless dialog host: modal loops, nesting, commands across threads, control state and
// events, message boxes and file requests.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/thread.h"
#include "platform/ui.h"
#include "platform/ui_headless.h"
#include "resources/resource.h"

namespace dz::ui {
namespace {

using headless::Event;
using headless::EventKind;

constexpr std::uint32_t long_wait_ms = 10000;

class HeadlessHost : public ::testing::Test {
 protected:
  void SetUp() override {
    headless::reset();
    token_ = headless::subscribe([this](const Event& e) {
      std::lock_guard lock(mutex_);
      events_.push_back(e);
    });
  }
  void TearDown() override { headless::reset(); }

  std::vector<Event> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<Event> events_of(EventKind kind) {
    std::vector<Event> out;
    for (auto& e : events()) {
      if (e.kind == kind) out.push_back(e);
    }
    return out;
  }
  // Runs a dialog of `template_id` whose initialisation is `body` and then ends it with 1;
  // returns its handle.
  static Window run_init(int template_id, const std::function<void(Window)>& body) {
    Window seen = no_window;
    DialogProc proc;
    proc.init = [&](Window dlg, std::intptr_t) {
      seen = dlg;
      body(dlg);
      end_dialog(dlg, 1);
    };
    run_dialog(template_id, no_window, proc);
    return seen;
  }
  static std::vector<std::string> combo_items(Window dlg, int id) {
    std::vector<std::string> items;
    for (int i = 0; i < combo_count(dlg, id); ++i) items.push_back(combo_item(dlg, id, i));
    return items;
  }

  std::mutex mutex_;
  std::vector<Event> events_;
  int token_ = 0;
};

TEST_F(HeadlessHost, InitEndsAtOnceDestroyRunsAndHandlesAreNeverReused) {
  int destroyed = 0;
  Window seen = no_window;
  std::vector<Window> handles;
  DialogProc proc;
  proc.init = [&](Window dlg, std::intptr_t param) {
    seen = dlg;
    handles.push_back(dlg);
    EXPECT_EQ(param, 42);
    EXPECT_TRUE(is_open(dlg));
    EXPECT_EQ(template_of(dlg), IDD_ABOUT);
    EXPECT_EQ(caption(dlg), "About");
    end_dialog(dlg, 7);
  };
  proc.destroy = [&](Window dlg) {
    EXPECT_EQ(dlg, seen);
    ++destroyed;
  };
  EXPECT_EQ(run_dialog(IDD_ABOUT, no_window, proc, 42), 7);
  EXPECT_EQ(destroyed, 1);
  EXPECT_FALSE(is_open(seen));
  auto opened = events_of(EventKind::dialog_opened);
  auto closed = events_of(EventKind::dialog_closed);
  ASSERT_EQ(opened.size(), 1u);
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(opened[0].template_id, IDD_ABOUT);
  EXPECT_EQ(closed[0].result, 7);

  for (int i = 0; i < 4; ++i) run_dialog(IDD_ABOUT, no_window, proc, 42);
  EXPECT_EQ(destroyed, 5);
  const std::set<Window> distinct(handles.begin(), handles.end());
  EXPECT_EQ(distinct.size(), 5u);
  EXPECT_EQ(distinct.count(no_window), 0u);
}

TEST_F(HeadlessHost, TemplatesGiveInitialState) {
  run_init(IDD_DOWNLOAD, [](Window dlg) {
    // Download: bars, section text, map and monitor are hidden at first.
    EXPECT_TRUE(is_visible(dlg, IDC_STAGE_TEXT));
    for (int id :
         {IDC_SECTION_TEXT, IDC_SECTION_BAR, IDC_TOTAL_BAR, IDC_FLASH_MAP, IDC_MONITOR_OUTPUT})
      EXPECT_FALSE(is_visible(dlg, id)) << id;
    EXPECT_TRUE(is_read_only(dlg, IDC_MONITOR_OUTPUT));
    EXPECT_EQ(text(dlg, 2), "Abort");
    EXPECT_EQ(caption(dlg), "Download");
    // Unknown ids come into being on first use.
    EXPECT_EQ(text(dlg, 4242), "");
    set_text(dlg, 4242, "made");
    EXPECT_EQ(text(dlg, 4242), "made");
    EXPECT_TRUE(is_visible(dlg, 4242));
  });
  run_init(IDD_SERIAL_SETTINGS, [](Window dlg) {
    // Serial settings: the speed list is disabled and holds its two entries.
    EXPECT_FALSE(is_enabled(dlg, IDC_PORT_SPEED));
    EXPECT_EQ(combo_items(dlg, IDC_PORT_SPEED), (std::vector<std::string>{"115200", "230400"}));
    // The port list is sorted: COM10 lands between COM1 and COM2.
    for (const char* name : {"COM2", "COM1", "COM10", "com3"}) combo_add(dlg, IDC_COM_PORT, name);
    EXPECT_EQ(combo_items(dlg, IDC_COM_PORT),
              (std::vector<std::string>{"COM1", "COM10", "COM2", "com3"}));
    EXPECT_EQ(combo_find_exact(dlg, IDC_COM_PORT, "COM3"), 3);
    EXPECT_EQ(combo_find_exact(dlg, IDC_COM_PORT, "COM"), -1);
  });
  run_init(IDD_DETECTION, [](Window dlg) {
    EXPECT_FALSE(is_visible(dlg, IDC_CONNECTION_HELP));
    EXPECT_EQ(text(dlg, IDC_CONNECTION_HELP), "Connection Help...");
  });
  run_init(IDD_PRODUCTION_TEST, [](Window dlg) {
    EXPECT_EQ(caption(dlg), "Dialog");
    EXPECT_EQ(text(dlg, IDC_TEST_FIELD1), "RSDA1");
    EXPECT_EQ(text(dlg, IDC_TEST_FIELD4), "V000001");
  });
}

TEST_F(HeadlessHost, ComboEditingFollowsWin32Rules) {
  run_init(IDD_MAIN, [](Window dlg) {
    const int id = IDC_BOOT_FILE;  // unsorted drop-down
    set_text(dlg, id, "eboot.bin");
    EXPECT_EQ(combo_add(dlg, id, "b.bin"), 0);
    EXPECT_EQ(combo_add(dlg, id, "a.bin"), 1);
    EXPECT_EQ(combo_insert(dlg, id, 0, "c.bin"), 0);
    EXPECT_EQ(combo_insert(dlg, id, 9, "x"), -1);
    EXPECT_EQ(text(dlg, id), "eboot.bin");  // adding does not touch the edit field
    combo_select(dlg, id, 2);
    EXPECT_EQ(text(dlg, id), "a.bin");
    EXPECT_EQ(combo_selection(dlg, id), 2);
    // Move the selection to the top as the main window does.
    combo_delete(dlg, id, 2);
    EXPECT_EQ(combo_selection(dlg, id), -1);
    combo_insert(dlg, id, 0, "a.bin");
    combo_select(dlg, id, 0);
    EXPECT_EQ(combo_items(dlg, id), (std::vector<std::string>{"a.bin", "c.bin", "b.bin"}));
    combo_delete(dlg, id, 99);  // out of range: no effect
    EXPECT_EQ(combo_count(dlg, id), 3);
    combo_select(dlg, id, -1);
    EXPECT_EQ(text(dlg, id), "");
    combo_reset(dlg, id);
    EXPECT_EQ(combo_count(dlg, id), 0);
    EXPECT_EQ(combo_item(dlg, id, 0), "");

    list_add(dlg, IDC_DEVICE_DETAILS, "line 1");
    list_add(dlg, IDC_DEVICE_DETAILS, "line 2");
    EXPECT_EQ(list_count(dlg, IDC_DEVICE_DETAILS), 2);
    EXPECT_EQ(list_item(dlg, IDC_DEVICE_DETAILS, 1), "line 2");
    list_reset(dlg, IDC_DEVICE_DETAILS);
    EXPECT_EQ(list_count(dlg, IDC_DEVICE_DETAILS), 0);
  });
}

TEST_F(HeadlessHost, ControlStateAndEvents) {
  std::array<std::uint8_t, 512> cells{};
  cells[0] = 1;
  cells[511] = 3;
  const Window dlg = run_init(IDD_MAIN, [&](Window dlg) {
    check_radio(dlg, IDC_IMAGE_JTAG, IDC_IMAGE_ETHERNET, IDC_IMAGE_ETHERNET);
    EXPECT_TRUE(is_checked(dlg, IDC_IMAGE_ETHERNET));
    check_radio(dlg, IDC_IMAGE_JTAG, IDC_IMAGE_ETHERNET, IDC_IMAGE_SERIAL);
    EXPECT_TRUE(is_checked(dlg, IDC_IMAGE_SERIAL));
    EXPECT_FALSE(is_checked(dlg, IDC_IMAGE_ETHERNET));
    EXPECT_FALSE(is_checked(dlg, IDC_IMAGE_JTAG));
    EXPECT_FALSE(is_checked(dlg, IDC_BOOT_JTAG));  // outside the range
    enable(dlg, IDC_IMAGE_USB, false);
    EXPECT_FALSE(is_enabled(dlg, IDC_IMAGE_USB));
    show(dlg, IDC_IMAGE_USB, false);
    show(dlg, IDC_IMAGE_USB, false);  // no change, no event
    progress_range(dlg, 1024, 1000);
    progress_pos(dlg, 1024, 400);
    progress_pos(dlg, 1024, 5000);  // clamped to the range
    EXPECT_EQ(progress_max(dlg, 1024), 1000u);
    EXPECT_EQ(progress_position(dlg, 1024), 1000u);
    set_ip(dlg, 4000, 0xC0A80001);
    EXPECT_EQ(ip(dlg, 4000), 0xC0A80001u);
    EXPECT_EQ(text(dlg, 4000), "192.168.0.1");
    append_text(dlg, 4001, "ab");
    append_text(dlg, 4001, "cd");
    EXPECT_EQ(text(dlg, 4001), "abcd");
    set_caption(dlg, "Quintar Loader 3. 3");
    paint_flash_map(dlg, 1025, cells);
  });
  // State of a closed dialog stays readable, but it takes no more changes.
  EXPECT_EQ(text(dlg, 4001), "abcd");
  set_text(dlg, 4001, "late");
  EXPECT_EQ(text(dlg, 4001), "abcd");
  auto map = headless::last_map(dlg, 1025);
  ASSERT_EQ(map.size(), 512u);
  EXPECT_EQ(map[0], 1);
  EXPECT_EQ(map[511], 3);

  EXPECT_EQ(events_of(EventKind::visibility_changed).size(), 1u);
  EXPECT_EQ(events_of(EventKind::enabled_changed).size(), 1u);
  auto pos = events_of(EventKind::progress_pos);
  ASSERT_EQ(pos.size(), 2u);
  EXPECT_EQ(pos[1].value, 1000u);
  auto appended = events_of(EventKind::text_appended);
  ASSERT_EQ(appended.size(), 2u);
  EXPECT_EQ(appended[1].text, "cd");
  auto captions = events_of(EventKind::caption_changed);
  ASSERT_EQ(captions.size(), 1u);
  EXPECT_EQ(captions[0].text, "Quintar Loader 3. 3");
  auto painted = events_of(EventKind::map_painted);
  ASSERT_EQ(painted.size(), 1u);
  EXPECT_EQ(painted[0].map.size(), 512u);
  // Radio changes: Ethernet on; Serial on, Ethernet off.
  EXPECT_EQ(events_of(EventKind::check_changed).size(), 3u);
  for (auto& e : events()) EXPECT_EQ(e.dlg, dlg);
}

TEST_F(HeadlessHost, NestedDialogsServeOuterCommandsFromWorkers) {
  // The outer dialog opens an inner one; a worker posts and sends commands to the outer dialog
  // while the inner one runs. They are handled on this thread, inside the inner loop.
  const auto main_thread = std::this_thread::get_id();
  std::vector<int> handled;
  Window outer = no_window, inner = no_window;
  threads::Thread worker;

  DialogProc inner_proc;
  inner_proc.init = [&](Window dlg, std::intptr_t) {
    inner = dlg;
    EXPECT_EQ(parent(dlg), outer);
    worker = threads::Thread::start([&] {
      post_command(outer, Command{10, 0, 0, {}});
      send_command(outer, Command{11, 0, 0, "text"});
      // The send has returned: both are done, in order.
      send_command(inner, Command{1, 0, 0, {}});
    });
  };
  inner_proc.command = [&](Window dlg, const Command& c) {
    EXPECT_EQ(std::this_thread::get_id(), main_thread);
    handled.push_back(100 + c.id);
    if (c.id == 1) end_dialog(dlg, 5);
  };

  DialogProc outer_proc;
  outer_proc.init = [&](Window dlg, std::intptr_t) {
    outer = dlg;
    post_command(dlg, Command{20, 0, 0, {}});
  };
  outer_proc.command = [&](Window dlg, const Command& c) {
    EXPECT_EQ(std::this_thread::get_id(), main_thread);
    handled.push_back(c.id);
    if (c.id == 11) {
      EXPECT_EQ(c.text, "text");
    }
    if (c.id == 20) {
      EXPECT_EQ(run_dialog(IDD_DETECTION, dlg, inner_proc), 5);
      end_dialog(dlg, 9);
    }
  };
  EXPECT_EQ(run_dialog(IDD_MAIN, no_window, outer_proc), 9);
  ASSERT_TRUE(worker.wait(long_wait_ms));
  EXPECT_EQ(handled, (std::vector<int>{20, 10, 11, 101}));
  EXPECT_FALSE(is_open(inner));
  EXPECT_FALSE(is_open(outer));
}

TEST_F(HeadlessHost, SendFromOwnThreadCallsDirectly) {
  int depth = 0, max_depth = 0;
  DialogProc proc;
  proc.init = [&](Window dlg, std::intptr_t) { send_command(dlg, Command{50, 0, 0, {}}); };
  proc.command = [&](Window dlg, const Command& c) {
    ++depth;
    max_depth = std::max(max_depth, depth);
    if (c.id == 50) send_command(dlg, Command{51, 0, 0, {}});
    if (c.id == 51) end_dialog(dlg, 3);
    --depth;
  };
  EXPECT_EQ(run_dialog(IDD_ABOUT, no_window, proc), 3);
  EXPECT_EQ(max_depth, 2);  // 51 ran inside 50, not through the queue
}

TEST_F(HeadlessHost, SendsToAnEndedDialogRunNothingAndReturn) {
  // A worker's send is queued while the dialog's thread is busy; the dialog then ends without
  // pumping again. The sender must come back, and its command must not run; nor must any
  // command sent or posted to the dialog once it has ended.
  std::atomic<int> calls{0};
  std::atomic<int> queued{0};
  Window dlg = no_window;
  threads::Thread worker;
  DialogProc proc;
  proc.init = [&](Window d, std::intptr_t) {
    dlg = d;
    worker = threads::Thread::start([&, d] {
      queued = 1;
      send_command(d, Command{60, 0, 0, {}});
    });
    // Give the worker time to queue its send while this thread does not pump.
    while (!queued.load()) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    end_dialog(d, 1);
    send_command(d, Command{77, 0, 0, {}});  // ended already: dropped
    post_command(d, Command{78, 0, 0, {}});
  };
  proc.command = [&](Window, const Command&) { ++calls; };
  run_dialog(IDD_ABOUT, no_window, proc);
  EXPECT_TRUE(worker.wait(long_wait_ms));
  // After the end, from another thread: returns at once without a handler.
  auto t = threads::Thread::start([&] { send_command(dlg, Command{79, 0, 0, {}}); });
  ASSERT_TRUE(t.wait(long_wait_ms));
  send_command(0xDEAD0, Command{1, 0, 0, {}});  // never a window
  end_dialog(0xDEAD0, 1);
  EXPECT_EQ(calls.load(), 0);
}

TEST_F(HeadlessHost, EndDialogFromWorkerAndTestDriving) {
  // A test drives a dialog from outside: waits for it, reads it, sends it commands.
  std::atomic<int> clicks{0};
  auto driver = threads::Thread::start([&] {
    Window dlg = headless::wait_for_dialog(IDD_IMAGE_OPTIONS, long_wait_ms);
    ASSERT_NE(dlg, no_window);
    EXPECT_EQ(headless::find_dialog(IDD_IMAGE_OPTIONS), dlg);
    set_text(dlg, IDC_ROM_OFFSET, "0x1234");
    send_command(dlg, Command{IDC_ROM_OFFSET_ENABLE, BN_CLICKED, 0, {}});
    EXPECT_EQ(clicks.load(), 1);
    end_dialog(dlg, 4);
    EXPECT_TRUE(headless::wait_closed(dlg, long_wait_ms));
  });
  DialogProc proc;
  proc.command = [&](Window, const Command& c) {
    if (c.id == IDC_ROM_OFFSET_ENABLE) ++clicks;
  };
  EXPECT_EQ(run_dialog(IDD_IMAGE_OPTIONS, no_window, proc), 4);
  ASSERT_TRUE(driver.wait(long_wait_ms));
  EXPECT_EQ(headless::find_dialog(IDD_IMAGE_OPTIONS), no_window);
  EXPECT_EQ(headless::wait_for_dialog(IDD_IMAGE_OPTIONS, 10), no_window);
}

TEST_F(HeadlessHost, ManyWorkersSettingStateWhileCommandsFlow) {
  // Worker threads set texts and bars directly while others send commands: nothing is lost
  // and every command runs on the dialog's thread.
  constexpr int workers = 4, rounds = 200;
  std::atomic<int> commands{0};
  std::vector<threads::Thread> threads_started;
  const auto main_thread = std::this_thread::get_id();
  DialogProc proc;
  proc.init = [&](Window dlg, std::intptr_t) {
    for (int w = 0; w < workers; ++w) {
      threads_started.push_back(threads::Thread::start([dlg, w] {
        for (int i = 0; i < rounds; ++i) {
          set_text(dlg, 2000 + w, std::to_string(i));
          progress_pos(dlg, IDC_TOTAL_BAR, static_cast<std::uint32_t>(i));
          send_command(dlg, Command{3000 + w, 0, i, {}});
        }
      }));
    }
    post_command(dlg, Command{1, 0, 0, {}});
  };
  proc.command = [&](Window dlg, const Command& c) {
    EXPECT_EQ(std::this_thread::get_id(), main_thread);
    if (c.id >= 3000 && ++commands == workers * rounds) end_dialog(dlg, 1);
  };
  run_dialog(IDD_DOWNLOAD, no_window, proc);
  for (auto& t : threads_started) ASSERT_TRUE(t.wait(long_wait_ms));
  EXPECT_EQ(commands.load(), workers * rounds);
}

TEST_F(HeadlessHost, MessageBoxesAndFileRequestsAreAnswered) {
  // Defaults: Yes/No questions get No, everything else OK.
  EXPECT_EQ(message_box(no_window, "q?", "Warning", MB_YESNO | MB_ICONQUESTION), IDNO);
  EXPECT_EQ(message_box(no_window, "fine", "Info", MB_OK), IDOK);
  std::vector<std::string> asked;
  headless::set_answerer(
      [&](Window, const std::string& text, const std::string& caption, unsigned flags) {
        asked.push_back(caption + ":" + text);
        return (flags & MB_YESNO) ? IDYES : IDCANCEL;
      });
  EXPECT_EQ(message_box(no_window, "erase?", "WARNING", MB_YESNO), IDYES);
  EXPECT_EQ(message_box(no_window, "stop", "ERROR", MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(asked, (std::vector<std::string>{"WARNING:erase?", "ERROR:stop"}));
  auto boxes = events_of(EventKind::message_box);
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(boxes[0].result, IDNO);
  EXPECT_EQ(boxes[2].caption, "WARNING");
  EXPECT_EQ(boxes[2].value, MB_YESNO);
  EXPECT_EQ(boxes[2].result, IDYES);

  // File requests use the picker.
  const std::pair<std::string, std::string> filters[] = {{"WinCE Images", "*.bin"},
                                                         {"All Files", "*.*"}};
  std::string path = "nk.bin";
  EXPECT_FALSE(open_file(no_window, path, "Please Select a Image File", filters));
  EXPECT_EQ(path, "nk.bin");
  headless::set_file_picker([](const std::string& initial) -> std::optional<std::string> {
    if (initial == "cancel") return std::nullopt;
    return "/images/" + initial;
  });
  EXPECT_TRUE(open_file(no_window, path, "t", filters));
  EXPECT_EQ(path, "/images/nk.bin");
  path = "cancel";
  EXPECT_FALSE(open_file(no_window, path, "t", filters));
  EXPECT_EQ(path, "cancel");

  // An observer that unsubscribed hears nothing more.
  const std::size_t heard = events().size();
  headless::unsubscribe(token_);
  EXPECT_EQ(message_box(no_window, "x", "y", MB_OK), IDCANCEL);  // the answerer above
  EXPECT_EQ(events().size(), heard);
}

}  // namespace
}  // namespace dz::ui
