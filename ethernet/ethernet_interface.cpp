// The Ethernet download interface: detect, open, write and close with the jump command.
#include <cstdio>
#include <string>

#include "ethernet/ethernet_download.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "resources/resource.h"

namespace dz {
namespace {

// The EDBG jump command: header "EDBG", service 0xFF, flags 0, sequence 0, command 2, one byte.
constexpr std::uint8_t jump_command[9] = {'E', 'D', 'B', 'G', 0xFF, 0, 0, 2, 0};

void close_transfer_socket() {
  auto& t = tftp_state();
  if (!t.socket_open) return;
  t.tftp_socket.shutdown_both();
  t.tftp_socket.close();
  t.socket_open = false;
}

// Sends the jump command and waits for the module's answer (a message tells when it could not
// be sent or nothing came back in time).
void jump_into_image() {
  auto& t = tftp_state();
  t.tftp_socket.disconnect();
  // Late acknowledgements still queued arrived before the command and cannot answer it.
  std::uint8_t answer[256];
  udp::Address from;
  while (t.tftp_socket.wait_readable(0) == 1 && t.tftp_socket.receive_from(answer, from) >= 0) {
  }
  if (t.tftp_socket.send_to(jump_command, udp::Address{t.device_ip, udp::module_port()}) < 0) {
    show_error("Couldn't send EDBG_CMD_JUMPING (%d)", udp::last_error());
    return;
  }
  // Any datagram from the module's address answers, whatever it holds; other hosts are not
  // listened to.
  std::uint32_t sent = clock::tick_ms();
  while (abort_flag.load() == 0) {
    if (t.tftp_socket.wait_readable(100) == 1) {
      if (t.tftp_socket.receive_from(answer, from) >= 0 && from.ip == t.device_ip) break;
    }
    if (clock::tick_ms() - sent > jump_answer_timeout_ms) {
      show_error("Timeout waiting for EDBG_CMD_JUMPING ACK");
      return;
    }
  }
  t.block_number = 0;
}

}  // namespace

std::uint32_t ethernet_detect(ui::Window dialog) {
  notify_window = ui::parent(dialog);
  tftp_state().block_number = 0;
  char status[64];
  std::snprintf(status, sizeof status, "Reset the device %s to start download.",
                selected_device().c_str());
  ui::set_text(dialog, IDC_DETECT_HINT, status);
  while (stop_flag.load() == 0) {
    BootmeResult result = receive_bootme_result();
    if (result == BootmeResult::socket_failed) {
      // The error has been shown; without a socket no announcement can come.
      ui::send_command(dialog, ui::Command{ui::IDCANCEL, 0, 0, {}});
      return 0;
    }
    if (result != BootmeResult::received) continue;
    BootmeInfo info = last_bootme();
    if (accept_all.load() != 0 || selected_device() == info.device_name) {
      if (stop_flag.load() != 0) return 0;
      ui::send_command(dialog, ui::Command{ui::IDOK, 0, 0, {}});
      return 1;
    }
  }
  return 0;
}

int ethernet_open(ui::Window dialog) {
  notify_window = ui::parent(dialog);
  return tftp_start(dialog);
}

int ethernet_write(std::uint8_t* buffer, std::uint32_t address, std::uint32_t length) {
  return tftp_write(buffer, address, length);
}

// 0 when a transfer was open and did not end with every block acknowledged (an abort, a missing
// or wrong acknowledgement of the last blocks): the module then gets no jump command and the
// job fails. An unanswered jump command does not make it fail; the image has arrived.
int ethernet_close() {
  auto& t = tftp_state();
  debug_info("Download Time: %d (W: %d, R: %d)",
             static_cast<int>(clock::tick_ms() - t.transfer_start_ms),
             static_cast<int>(t.write_time_ms), static_cast<int>(t.read_time_ms));
  int result = 1;
  if (abort_flag.load() != 0) {
    t.block_number = 0;
    if (t.socket_open) result = 0;
  } else if (t.socket_open) {
    // The module jumps only into an image whose last block it has acknowledged.
    if (tftp_finish()) {
      jump_into_image();
    } else {
      t.block_number = 0;
      result = 0;
    }
  }
  close_transfer_socket();
  release_device_list_if_empty();
  return result;
}

}  // namespace dz
