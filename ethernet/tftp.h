#pragma once
// The TFTP write of "boot.bin" to the module's bootloader: start with the block-size option,
// data blocks with acknowledgement and retry, the windowed FastDownload mode, and the end.
#include <atomic>
#include <cstdint>
#include <span>

#include "platform/udp.h"
#include "platform/ui.h"

namespace dz {

inline constexpr int tftp_max_resends = 10;
inline constexpr std::uint32_t tftp_window = 8;  // blocks sent ahead in FastDownload mode

// The state of one transfer.
struct TftpState {
  udp::Socket tftp_socket;
  bool socket_open = false;
  std::uint32_t device_ip = 0;  // first octet most significant
  udp::Address peer;
  std::atomic<std::uint16_t> block_number{0};
  std::uint32_t block_size = 512;
  std::uint32_t window_count = 0;
  bool final_block_sent = false;
  bool fast = false;  // FastDownload, taken from fast_download when the transfer starts
  std::uint32_t write_time_ms = 0;
  std::uint32_t read_time_ms = 0;
  std::uint32_t transfer_start_ms = 0;
  // How long one acknowledgement wait lasts (real time). 1000 ms; tests shorten it.
  std::atomic<std::uint32_t> ack_wait_ms{1000};
  // How long the answer to the write request is awaited (real time): 1000 ms as well, kept apart
  // so that tests which shorten the acknowledgement wait do not also cut the start short.
  std::atomic<std::uint32_t> start_wait_ms{1000};
};

TftpState& tftp_state();
// Closes the socket and puts every value back to the start (between tests).
void reset_tftp_state();

int tftp_start(ui::Window dialog);
int tftp_write(const std::uint8_t* data, std::uint32_t address, std::uint32_t length);
int tftp_finish();
int send_block(const std::uint8_t* data, std::uint32_t length);

// Packet layouts.
inline constexpr std::size_t tftp_request_size = 30;
void build_write_request(std::uint8_t (&packet)[tftp_request_size]);
// The reply to the write request, as it is tested: 0 when it is not acceptable, else the block
// size it grants (1024 for the module's option acknowledgement, 512 for a plain one).
std::uint32_t check_start_reply(std::span<const std::uint8_t> reply, std::uint16_t block_number);
// An acknowledgement: false when it is not one (too short, or byte 1 is not 4).
bool parse_ack(std::span<const std::uint8_t> packet, std::uint16_t& number);

}  // namespace dz
