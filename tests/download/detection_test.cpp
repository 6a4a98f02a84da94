// The Device Detection dialog on its own: caption, outcomes, Abort, the connection help.
#include <thread>

#include "download/detection_dialog.h"
#include "tests/download/job_fixture.h"

namespace dz::testing {
namespace {

using ::testing::ElementsAre;

class Detection : public JobTest {};

TEST_F(Detection, AnswerEndsWithOneAndNamesTheRecordInTheCaption) {
  for (int index : {0, 1, 3}) {
    SCOPED_TRACE(index);
    TearDown();
    SetUp();
    EXPECT_EQ(run_detection_dialog(ui::no_window, index), 1);
    EXPECT_EQ(detect_interface.load(), index);
    EXPECT_EQ(calls_of("detect").at(0).interface_index, index);
    const auto captions = events_of(EventKind::caption_changed, IDD_DETECTION);
    ASSERT_EQ(captions.size(), 1u);
    EXPECT_EQ(captions[0].text,
              std::string("Device Detection (") + download_interfaces[index].name + ")");
    EXPECT_THAT(texts(IDD_DETECTION, IDC_DETECT_STATUS), ElementsAre("Test Adapter"));
  }
}

TEST_F(Detection, RecordsWithoutDetectAndUnknownIndexesAreRefused) {
  EXPECT_EQ(run_detection_dialog(ui::no_window, usb_interface_index), 0);
  EXPECT_EQ(run_detection_dialog(ui::no_window, -1), 0);
  EXPECT_EQ(run_detection_dialog(ui::no_window, interface_count), 0);
  EXPECT_EQ(boxes().size(), 3u);
  EXPECT_EQ(dialogs_opened(IDD_DETECTION), 0);
}

TEST_F(Detection, ConnectionHelpOpensTheInterfacesTopic) {
  std::vector<std::string> topics;
  std::vector<unsigned> commands;
  help::set_handler([&](ui::Window, const std::string& topic, unsigned command, std::uintptr_t) {
    topics.push_back(topic);
    commands.push_back(command);
    return std::intptr_t{1};
  });
  recorder().detect_mode = DetectMode::wait_for_stop;
  for (int index : {0, 1, 3}) {
    stop_flag = 0;
    std::thread user([index] {
      const ui::Window dlg = ui::headless::wait_for_dialog(IDD_DETECTION, 5000);
      ui::send_command(dlg, command(0));  // handled after the dialog's init has run
      // The button is offered only where a topic exists.
      EXPECT_EQ(ui::is_visible(dlg, IDC_CONNECTION_HELP), index != 3);
      ui::send_command(dlg, command(IDC_CONNECTION_HELP));
      ui::send_command(dlg, command(ui::IDCANCEL));
    });
    EXPECT_EQ(run_detection_dialog(ui::no_window, index), 0);
    user.join();
  }
  EXPECT_THAT(topics, ElementsAre("DividezUrirer.chm::/ConnectionJtag.htm",
                                  "DividezUrirer.chm::/ConnectionSerial.htm"));
  EXPECT_THAT(commands, ElementsAre(help::HH_DISPLAY_TOPIC, help::HH_DISPLAY_TOPIC));
}

TEST(Help, HandlerTakesRequestsAndCanBeReplaced) {
  int first = 0;
  int second = 0;
  help::set_handler([&](ui::Window, const std::string&, unsigned, std::uintptr_t) {
    ++first;
    return std::intptr_t{11};
  });
  EXPECT_EQ(help::html_help(ui::no_window, "a.chm::/b.htm", help::HH_DISPLAY_TOPIC, 0), 11);
  auto previous =
      help::set_handler([&](ui::Window owner, const std::string& topic, unsigned, std::uintptr_t) {
        ++second;
        EXPECT_EQ(owner, ui::Window{42});
        EXPECT_EQ(topic, "x.chm::/y.htm");
        return std::intptr_t{22};
      });
  EXPECT_EQ(help::html_help(42, "x.chm::/y.htm", help::HH_DISPLAY_TOPIC, 0), 22);
  ASSERT_TRUE(previous);
  EXPECT_EQ(previous(0, "", 0, 0), 11);
  EXPECT_EQ(first, 2);
  EXPECT_EQ(second, 1);
  help::set_handler(nullptr);
}

}  // namespace
}  // namespace dz::testing
