// Whole Ethernet downloads through the download job to the simulated module.
#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <thread>

#include "download/job.h"
#include "ethernet_fixture.h"
#include "platform/thread.h"
#include "resources/resource.h"
#include "sim/targets.h"

namespace dz {
// The table of this test program: only the Ethernet record is needed.
#define DZ_UNUSED_RECORD(NAME)                                                             \
  DownloadInterface {                                                                      \
    NAME, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, \
        nullptr, 1, nullptr                                                                \
  }
const DownloadInterface download_interfaces[interface_count] = {
    DZ_UNUSED_RECORD("JTag Interface"), DZ_UNUSED_RECORD("Serial Interface"),
    DZ_UNUSED_RECORD("USB Interface"), ethernet_download_interface};
#undef DZ_UNUSED_RECORD
}  // namespace dz

namespace dz::test {
namespace {

class EthernetDownload : public EthernetTest {
 protected:
  int download(const std::vector<std::uint8_t>& bytes) {
    return start_download_job(ui::no_window, ethernet_interface_index,
                              dir_.write("image.bin", bytes), 1, 0x80000000,
                              static_cast<std::uint32_t>(bytes.size()), 0);
  }
  bool box_contains(std::string_view text) {
    for (const auto& b : box_lines())
      if (b.find(text) != std::string::npos) return true;
    return false;
  }
  // Starts a module of `config` and runs a download of `size` bytes that must fail with `message`
  // in a box and no jump command; `check` then looks at the module. The module is gone after.
  void expect_failure(const sim::EthernetModuleConfig& config, int fast, int ack_wait_ms,
                      std::size_t size, std::uint32_t seed, const std::string& message,
                      const std::function<void(sim::EthernetModule&)>& check = {}) {
    SCOPED_TRACE("fast " + std::to_string(fast));
    auto& module = start_module(config);
    if (ack_wait_ms != 0) tftp_state().ack_wait_ms = ack_wait_ms;
    fast_download = fast;
    clear_boxes();
    EXPECT_EQ(download(random_bytes(size, seed)), 0);
    EXPECT_TRUE(box_contains(message)) << (box_lines().empty() ? "no box" : box_lines().front());
    EXPECT_EQ(module.jump_commands(), 0);
    if (check) check(module);
    modules_.clear();
  }
  void expect_failure_in_both_modes(const sim::EthernetModuleConfig& config, int ack_wait_ms,
                                    std::size_t size, std::uint32_t seed,
                                    const std::string& message,
                                    const std::function<void(sim::EthernetModule&)>& check = {}) {
    for (int fast : {0, 1}) expect_failure(config, fast, ack_wait_ms, size, seed, message, check);
  }
};

struct SizeCase {
  std::size_t size;
  bool fast;
};

class EthernetSizes : public EthernetDownload, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(EthernetSizes, FileArrivesBitExactAndModuleJumps) {
  auto& module = start_module();
  fast_download = GetParam().fast ? 1 : 0;
  auto bytes = random_bytes(GetParam().size, 7 + static_cast<std::uint32_t>(GetParam().size));
  EXPECT_EQ(download(bytes), 1);
  EXPECT_TRUE(box_lines().empty()) << box_lines().front();
  EXPECT_EQ(module.block_size(), 1024u);
  EXPECT_TRUE(module.transfer_complete());
  EXPECT_EQ(module.received_file(), bytes);
  EXPECT_EQ(module.jump_commands(), 1);
  EXPECT_EQ(count_lines("INFO: Download Time: "), 1);
  // Blocks of 1024 bytes, and an empty last block when the size is a multiple of 1024.
  EXPECT_EQ(module.data_packets(), static_cast<int>(GetParam().size / 1024 + 1));
  EXPECT_FALSE(tftp_state().socket_open);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, EthernetSizes,
    ::testing::Values(SizeCase{0, false}, SizeCase{1, false}, SizeCase{1023, false},
                      SizeCase{1024, false}, SizeCase{2048, false}, SizeCase{2049, false},
                      SizeCase{3 << 20, false}, SizeCase{0, true}, SizeCase{1, true},
                      SizeCase{1023, true}, SizeCase{1024, true}, SizeCase{2048, true},
                      SizeCase{2049, true}, SizeCase{3 << 20, true}),
    [](const auto& info) {
      return std::to_string(info.param.size) + (info.param.fast ? "_fast" : "_normal");
    });

TEST_F(EthernetDownload, PlainAcknowledgementGives512ByteBlocks) {
  sim::EthernetModuleConfig c;
  c.start_reply = sim::StartReply::plain_ack;
  auto& module = start_module(c);
  for (int fast : {0, 1}) {
    module.reset_for_download();
    fast_download = fast;
    auto bytes = random_bytes(100000, 3);
    EXPECT_EQ(download(bytes), 1);
    EXPECT_EQ(module.block_size(), 512u);
    EXPECT_EQ(module.received_file(), bytes);
    EXPECT_EQ(module.data_packets(), 100000 / 512 + 1);
  }
  EXPECT_EQ(module.jump_commands(), 2);
  EXPECT_TRUE(box_lines().empty());
}

// Lost and repeated packets and acknowledgements in both directions: the file still arrives
// bit-exact, or the transfer fails with a message; never a silent success.
TEST_F(EthernetDownload, LossAndDuplicationDeliverBitExact) {
  for (int fast : {0, 1}) {
    sim::EthernetModuleConfig c;
    c.drop_data = c.dup_data = c.dup_ack = 0.10;
    // In FastDownload a lost acknowledgement is soon followed by the next block's, which ends
    // the transfer: each block needs its own.
    c.drop_ack = fast != 0 ? 0 : 0.10;
    c.seed = 11 + fast;
    auto& module = start_module(c);
    tftp_state().ack_wait_ms = 25;
    fast_download = fast;
    auto bytes = random_bytes(256 * 1024 + 77, 5);
    EXPECT_EQ(download(bytes), 1);
    ASSERT_TRUE(box_lines().empty()) << "fast " << fast << ": " << box_lines().front();
    EXPECT_TRUE(module.transfer_complete());
    EXPECT_EQ(module.received_file(), bytes) << "fast " << fast;
    // A late acknowledgement may answer the jump before the module has taken the command.
    for (int i = 0; i < 200 && module.jump_commands() == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(module.jump_commands(), 1);
    EXPECT_GT(count_lines("Timeout waiting for ACK"), 0);
    modules_.clear();
  }
}

TEST_F(EthernetDownload, EleventhUnansweredSendFails) {
  sim::EthernetModuleConfig c;
  c.drop_data = 1.0;
  expect_failure_in_both_modes(c, 10, 700, 1,
                               "Maximum retries reached when trying to send packed 1\r\n",
                               [](sim::EthernetModule& module) {
                                 EXPECT_EQ(module.data_packets(), 11);
                                 EXPECT_FALSE(module.transfer_complete());
                               });
}

TEST_F(EthernetDownload, WrongBlockNumberEndsTransferAtOnce) {
  sim::EthernetModuleConfig c;
  c.wrong_ack_block = 3;
  expect_failure_in_both_modes(
      c, 0, 20 * 1024 + 5, 2,
      "ACK TFTP packet hadn't appropriate sequence number(Expected:3, Got:103)\r\n",
      [](sim::EthernetModule& module) { EXPECT_FALSE(module.transfer_complete()); });
}

// A file of 50 full blocks: the empty block 51 goes out in close, and in FastDownload the last
// eight full blocks are acknowledged there too. Whatever goes wrong with those acknowledgements,
// the job fails and the module gets no jump command.
constexpr std::size_t fifty_blocks = 50 * 1024;

TEST_F(EthernetDownload, MissingFinalAcknowledgementsFailTheJob) {
  struct Case {
    int fast;
    int drop_from;        // the module's acknowledgements stop from this block on
    bool drop_final;      // the module never acknowledges the final block
    const char* message;  // the block that ran out of resends
  };
  for (const Case& k : {Case{0, -1, true, "packed 51\r\n"}, Case{1, -1, true, "packed 51\r\n"},
                        Case{1, 45, false, "packed 45\r\n"}, Case{0, 50, false, "packed 50\r\n"}}) {
    SCOPED_TRACE("from " + std::to_string(k.drop_from));
    sim::EthernetModuleConfig c;
    c.drop_acks_from = k.drop_from;
    c.drop_final_ack = k.drop_final;
    expect_failure(c, k.fast, 10, fifty_blocks, 31,
                   std::string("Maximum retries reached when trying to send ") + k.message,
                   [&](sim::EthernetModule& module) {
                     if (k.drop_final) {  // every block arrived; only the last answer went missing
                       EXPECT_TRUE(module.transfer_complete());
                       EXPECT_EQ(module.received_file(), random_bytes(fifty_blocks, 31));
                     }
                     EXPECT_FALSE(tftp_state().socket_open);
                     EXPECT_EQ(tftp_state().block_number.load(), 0);
                   });
  }
}

TEST_F(EthernetDownload, WrongAcknowledgementOfTheFinalBlockFailsTheJob) {
  sim::EthernetModuleConfig c;
  c.wrong_final_ack = true;
  // The final block empty (sent in close) or short (sent by the last write).
  for (std::size_t size : {fifty_blocks, fifty_blocks + 5}) {
    SCOPED_TRACE(size);
    expect_failure_in_both_modes(
        c, 0, size, 32,
        "ACK TFTP packet hadn't appropriate sequence number(Expected:51, Got:151)\r\n",
        [](sim::EthernetModule&) { EXPECT_FALSE(tftp_state().socket_open); });
  }
}

// An acknowledgement of a later block while an earlier one is outstanding proves nothing about
// the blocks between: in both modes it ends the transfer, mid-file as at the end.
TEST_F(EthernetDownload, StrayAcknowledgementOfALaterBlockFailsTheJob) {
  struct Case {
    int after, block;
    const char* message;
  };
  for (const Case& k : {Case{46, 51, "(Expected:47, Got:51)"}, Case{3, 6, "(Expected:4, Got:6)"}}) {
    SCOPED_TRACE(k.after);
    sim::EthernetModuleConfig c;
    c.stray_ack_after = k.after;
    c.stray_ack_block = k.block;
    expect_failure_in_both_modes(
        c, 0, fifty_blocks, 33,
        std::string("ACK TFTP packet hadn't appropriate sequence number") + k.message + "\r\n");
  }
}

TEST_F(EthernetDownload, AbortSendsNeitherFinalBlockNorJump) {
  for (int fast : {0, 1}) {
    sim::EthernetModuleConfig c;
    c.latency_us = 300;
    auto& module = start_module(c);
    fast_download = fast;
    std::atomic<int> done{0};
    auto presser = threads::Thread::start([&] {
      while (done.load() == 0 && module.data_packets() < 40) std::this_thread::yield();
      ui::Window dlg = ui::headless::find_dialog(IDD_DOWNLOAD);
      if (dlg != ui::no_window) ui::post_command(dlg, ui::Command{ui::IDCANCEL, 0, 0, {}});
    });
    auto bytes = random_bytes(8 << 20, 9);
    EXPECT_EQ(download(bytes), 0);
    done = 1;
    presser.join();
    EXPECT_FALSE(module.transfer_complete()) << "fast " << fast;
    EXPECT_LT(module.received_file().size(), bytes.size());
    EXPECT_EQ(module.jump_commands(), 0);
    EXPECT_EQ(tftp_state().block_number.load(), 0);
    EXPECT_FALSE(tftp_state().socket_open);
    modules_.clear();
  }
}

// A write request answered in the RFC's option layout ends the start without a message of its
// own; one not answered at all is reported. Either way no data goes out.
TEST_F(EthernetDownload, WriteRequestNotAnsweredAsTheModuleDoesEndsTheStart) {
  struct Case {
    sim::StartReply reply;
    std::vector<std::string> boxes;
  };
  for (const Case& k :
       {Case{sim::StartReply::rfc_oack, {"Error: Initializing Interface\r\n"}},
        Case{sim::StartReply::none,
             {"Error: Windows Sockets error 0: Couldn't receive ACK for initial TFTP socket.\r\n",
              "Error: Initializing Interface\r\n"}}}) {
    sim::EthernetModuleConfig c;
    c.start_reply = k.reply;
    auto& module = start_module(c);
    if (k.reply == sim::StartReply::none) tftp_state().start_wait_ms = 50;  // it never comes
    clear_boxes();
    EXPECT_EQ(download(random_bytes(3000, 4)), 0);
    EXPECT_EQ(module.data_packets(), 0);
    EXPECT_EQ(box_lines(), k.boxes);
    modules_.clear();
  }
}

TEST_F(EthernetDownload, OnlyTheSelectedModuleIsTakenUnlessAllAreAccepted) {
  sim::EthernetModuleConfig other;
  other.name = "OTHER";
  auto& first = start_module(other);
  sim::EthernetModuleConfig wanted;
  wanted.name = "WANTED";
  wanted.bootme_interval_ms = 150;
  auto& second = start_module(wanted);  // the loader's TFTP goes to this one's port
  accept_all = 0;
  set_selected_device("WANTED");
  auto bytes = random_bytes(5000, 8);
  EXPECT_EQ(download(bytes), 1);
  EXPECT_EQ(last_bootme().device_name, std::string("WANTED"));
  EXPECT_EQ(second.received_file(), bytes);
  EXPECT_EQ(first.write_requests(), 0);
}

TEST_F(EthernetDownload, DetectionShowsSelectedNameAndStopsOnAbort) {
  set_selected_device("NOBODY");
  accept_all = 0;
  std::string hint;
  auto aborter = threads::Thread::start([&] {
    ui::Window dlg = ui::headless::wait_for_dialog(IDD_DETECTION, 5000);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    hint = ui::text(dlg, IDC_DETECT_HINT);
    ui::post_command(dlg, ui::Command{ui::IDCANCEL, 0, 0, {}});
  });
  EXPECT_EQ(download(random_bytes(10, 1)), 0);
  aborter.join();
  EXPECT_EQ(hint, "Reset the device NOBODY to start download.");
  EXPECT_TRUE(box_lines().empty());
}

TEST_F(EthernetDownload, BootmePortInUseEndsDetectionAfterOneMessage) {
  udp::Socket squatter = udp::Socket::create();
  ASSERT_TRUE(squatter.bind(udp::Address{udp::any_ip, loader_port_}));
  EXPECT_EQ(download(random_bytes(10, 1)), 0);
  auto shown = box_lines();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find("Couldn't bind bootme socket.\r\n"), std::string::npos);
  EXPECT_EQ(shown[0].rfind("Error: Windows Sockets error ", 0), 0u);
}

TEST_F(EthernetDownload, UnansweredJumpTimesOutAfter200Seconds) {
  sim::EthernetModuleConfig c;
  c.answer_jump = false;
  auto& module = start_module(c);
  BootmeInfo info = bootme_info_named("PXA270-SIM");
  info.ip[0] = 127, info.ip[3] = 1;
  set_last_bootme(info);
  ASSERT_EQ(tftp_start(ui::no_window), 1);
  auto bytes = random_bytes(4096, 3);
  ASSERT_EQ(tftp_write(bytes.data(), 0, 4096), 1);
  close_on_virtual_clock();
  EXPECT_EQ(module.received_file(), bytes);
  EXPECT_EQ(module.jump_commands(), 1);
  ASSERT_EQ(box_lines().size(), 1u);
  EXPECT_EQ(box_lines()[0], "Error: Timeout waiting for EDBG_CMD_JUMPING ACK\r\n");
  EXPECT_FALSE(tftp_state().socket_open);
}

TEST_F(EthernetDownload, AnyDatagramAnswersTheJump) {
  // A peer that answers everything with two bytes stands in for the module.
  udp::Socket peer = udp::Socket::create();
  ASSERT_TRUE(peer.bind(udp::Address{udp::loopback_ip, 0}));
  udp::set_edbg_ports(loader_port_, peer.local_address().port);
  std::atomic<int> stop{0};
  std::atomic<int> jumps{0};
  auto server = threads::Thread::start([&] {
    std::uint8_t p[2048];
    while (stop.load() == 0) {
      if (peer.wait_readable(10) != 1) continue;
      udp::Address from;
      int n = peer.receive_from(p, from);
      if (n == 30) peer.send_to(std::vector<std::uint8_t>{0, 4, 0, 0}, from);
      if (n >= 4 && p[1] == 3) {
        std::vector<std::uint8_t> ack = {0, 4, p[2], p[3]};
        peer.send_to(ack, from);
      }
      if (n == 9 && std::memcmp(p, "EDBG\xFF\x00\x00\x02\x00", 9) == 0) {
        ++jumps;
        peer.send_to(std::vector<std::uint8_t>{'?', '!'}, from);
      }
    }
  });
  BootmeInfo info = bootme_info_named("X");
  info.ip[0] = 127, info.ip[3] = 1;
  set_last_bootme(info);
  ASSERT_EQ(tftp_start(ui::no_window), 1);
  EXPECT_EQ(tftp_state().block_size, 512u);
  std::uint8_t data[600] = {};
  ASSERT_EQ(tftp_write(data, 0, sizeof data), 1);
  EXPECT_EQ(ethernet_close(), 1);
  stop = 1;
  server.join();
  EXPECT_EQ(jumps.load(), 1);
  EXPECT_TRUE(box_lines().empty());
  EXPECT_EQ(tftp_state().block_number.load(), 0);
}

// The answer to the write request has a wait of its own: a test (or a tuning) that shortens the
// acknowledgement wait below the module's answer time still gets the transfer started.
TEST_F(EthernetDownload, ShortAcknowledgementWaitLeavesTheStartItsOwnWait) {
  sim::EthernetModuleConfig c;
  c.latency_us = 30000;
  start_module(c);
  tftp_state().ack_wait_ms = 1;
  BootmeInfo info = bootme_info_named("SLOW");
  info.ip[0] = 127, info.ip[3] = 1;
  set_last_bootme(info);
  EXPECT_EQ(tftp_start(ui::no_window), 1);
  EXPECT_EQ(tftp_state().block_size, 1024u);
  EXPECT_TRUE(box_lines().empty()) << box_lines().front();
}

// The simulated module as dividezurirer-sim runs it beside the Windows program: it writes its
// store as soon as a transfer is complete (the session is still running), and with
// reset-after-jump it announces itself again after the jump and takes the next download.
TEST_F(EthernetDownload, SimulatedTargetStoresEachFileAndAnnouncesAgainAfterTheJump) {
  const std::string store = (dir_.path() / "store.bin").string();
  std::string model, error;
  sim::TargetOptions options;
  ASSERT_TRUE(sim::parse_target("sim:ethernet-module,reset-after-jump=on,store=" + store, model,
                                options, error))
      << error;
  auto session = sim::find_target_model(model)->attach(options, error);
  ASSERT_NE(session, nullptr) << error;
  auto read_store = [&] {
    std::ifstream in(store, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
  };
  std::vector<std::uint8_t> bytes;
  for (int fast : {0, 1}) {
    SCOPED_TRACE(fast);
    if (fast != 0) {
      // Heard on the loader's port before the download looks for it: a module that stayed
      // silent would leave the detection waiting.
      udp::Socket listener = udp::Socket::create();
      ASSERT_TRUE(listener.bind(udp::Address{udp::any_ip, udp::bootme_listen_port()}));
      ASSERT_EQ(listener.wait_readable(5000), 1) << "no BOOTME after the jump";
    }
    fast_download = fast;
    bytes = random_bytes(5000 + 3000 * static_cast<std::size_t>(fast), 50 + fast);
    ASSERT_EQ(download(bytes), 1);
    EXPECT_TRUE(read_store() == bytes);
  }
  EXPECT_TRUE(box_lines().empty()) << box_lines().front();
  session.reset();
  EXPECT_TRUE(read_store() == bytes);
}

}  // namespace
}  // namespace dz::test
