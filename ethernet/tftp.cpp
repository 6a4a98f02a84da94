// TFTP write to the module: start, blocks with acknowledgement and retry, FastDownload, end.
#include "ethernet/tftp.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <vector>

#include "download/interface.h"
#include "ethernet/device_list.h"
#include "platform/clock.h"
#include "platform/debug.h"

namespace dz {
namespace {

constexpr std::size_t reply_capacity = 256;
constexpr std::uint8_t option_text[14] = {'b', 'l', 'k', 's', 'i', 'z', 'e',
                                          0,   '1', '0', '2', '4', 0,   0};

// FastDownload: the blocks sent and not yet acknowledged, oldest first, kept for resending.
struct Outstanding {
  std::uint16_t number;
  std::vector<std::uint8_t> packet;
};
std::deque<Outstanding>& outstanding() {
  static std::deque<Outstanding> blocks;
  return blocks;
}

void end_start_with_failure(ui::Window dialog) {
  auto& t = tftp_state();
  if (t.socket_open) {
    t.tftp_socket.shutdown_both();
    t.tftp_socket.close();
    t.socket_open = false;
  }
  if (dialog != ui::no_window) ui::send_command(dialog, ui::Command{ui::IDCANCEL, 0, 0, {}});
}

std::vector<std::uint8_t> data_packet(std::uint16_t number, const std::uint8_t* data,
                                      std::uint32_t length) {
  std::vector<std::uint8_t> packet(4 + length);
  packet[1] = 3;
  packet[2] = static_cast<std::uint8_t>(number >> 8);
  packet[3] = static_cast<std::uint8_t>(number);
  if (length != 0) std::memcpy(packet.data() + 4, data, length);
  return packet;
}

// Sends one data packet on the connected socket; false after the error was shown.
bool send_packet(const std::vector<std::uint8_t>& packet, std::uint16_t number) {
  auto& t = tftp_state();
  std::uint32_t before = clock::tick_ms();
  int n = t.tftp_socket.send(packet);
  t.write_time_ms += clock::tick_ms() - before;
  if (n < 0) {
    show_error("Windows Sockets error %d: Couldn't send TFTP packed #%d.", udp::last_error(),
               static_cast<int>(number));
    return false;
  }
  return true;
}

enum class Reply { nothing, invalid, ack };

using SteadyClock = std::chrono::steady_clock;

void trace_foreign(const udp::Address& from) {
  debug_info("Ignored a datagram from %u.%u.%u.%u:%u", static_cast<unsigned>(from.ip >> 24),
             static_cast<unsigned>((from.ip >> 16) & 0xFF),
             static_cast<unsigned>((from.ip >> 8) & 0xFF), static_cast<unsigned>(from.ip & 0xFF),
             static_cast<unsigned>(from.port));
}

// Waits until `deadline` for a datagram that `accept` takes, dropping every other one: the
// length of the accepted datagram in `reply` (above the buffer's size when it did not fit), or
// -1 with `error` 0 on time-out or the socket's error code.
template <typename Accept>
int receive_accepted(std::span<std::uint8_t> reply, udp::Address& from,
                     SteadyClock::time_point deadline, int& error, Accept accept) {
  auto& t = tftp_state();
  error = 0;
  for (;;) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
    int ready = t.tftp_socket.wait_readable(
        static_cast<std::uint32_t>(std::max<long long>(left.count(), 0)));
    if (ready != 1) {
      if (ready < 0) error = udp::last_error();
      return -1;
    }
    std::fill(reply.begin(), reply.end(), std::uint8_t{0});
    int n = t.tftp_socket.receive_from(reply, from);
    if (n < 0) {
      error = udp::last_error();
      return -1;
    }
    if (accept(from)) return n;
    trace_foreign(from);
    if (SteadyClock::now() >= deadline) return -1;  // a flood of foreign datagrams
  }
}

// One acknowledgement wait: Reply::ack with its number, Reply::invalid for another packet,
// Reply::nothing on time-out or a receive error. Only the module's transfer port is listened to.
Reply wait_for_ack(std::uint16_t& number) {
  auto& t = tftp_state();
  std::uint8_t reply[reply_capacity] = {};
  std::uint32_t before = clock::tick_ms();
  auto deadline = SteadyClock::now() + std::chrono::milliseconds(t.ack_wait_ms.load());
  udp::Address from;
  int error = 0;
  int n = receive_accepted(reply, from, deadline, error,
                           [&](const udp::Address& a) { return a == t.peer; });
  if (n < 0 || n > static_cast<int>(reply_capacity)) return Reply::nothing;
  t.read_time_ms += clock::tick_ms() - before;
  if (!parse_ack(std::span<const std::uint8_t>(reply, static_cast<std::size_t>(n)), number))
    return Reply::invalid;
  return Reply::ack;
}

int send_block_normal(const std::uint8_t* data, std::uint32_t length) {
  auto& t = tftp_state();
  int resends = 0;
  for (;;) {
    if (abort_flag.load() != 0) return 0;
    std::uint16_t block = t.block_number.load();
    if (!send_packet(data_packet(block, data, length), block)) return 0;
    std::uint16_t got = 0;
    switch (wait_for_ack(got)) {
      case Reply::nothing:
        debug_info("Timeout waiting for ACK (%d).", static_cast<int>(block));
        break;
      case Reply::invalid:
        debug_info("Got invalid ACK packet");
        break;
      case Reply::ack:
        if (got == block) {
          t.block_number = static_cast<std::uint16_t>(block + 1);
          return abort_flag.load() != 0 ? 0 : 1;
        }
        if (got == static_cast<std::uint16_t>(block - 1)) {
          debug_info("Got NACK(%d)", static_cast<int>(got));
          break;
        }
        show_error("ACK TFTP packet hadn't appropriate sequence number(Expected:%d, Got:%d)",
                   static_cast<int>(block), static_cast<int>(got));
        return 0;
    }
    if (resends == tftp_max_resends) {
      show_error("Maximum retries reached when trying to send packed %d", static_cast<int>(block));
      return 0;
    }
    ++resends;
  }
}

// FastDownload: waits until at most `keep` blocks are outstanding. The module takes blocks only
// in order and acknowledges each one: the answer awaited is always the acknowledgement of the
// oldest outstanding block, and one for a later block is an error, as in normal mode (it is no
// proof that the blocks between arrived). A lost block shows as a time-out or as repeated
// acknowledgements of the block before it; then every outstanding block is sent again from the
// oldest one (go-back-N), at most 10 times without progress.
int await_acks(std::size_t keep) {
  auto& blocks = outstanding();
  int resends = 0;
  int repeats = 0;  // acknowledgements of the block before the oldest outstanding one
  int ignored = 0;  // stale or invalid packets since the last progress
  bool resent = false;
  while (blocks.size() > keep) {
    std::uint16_t expected = blocks.front().number;
    std::uint16_t got = 0;
    bool go_back = false;
    switch (wait_for_ack(got)) {
      case Reply::nothing:
        debug_info("Timeout waiting for ACK (%d).", static_cast<int>(expected));
        go_back = true;
        break;
      case Reply::invalid:
        debug_info("Got invalid ACK packet");
        go_back = ++ignored >= 64;
        break;
      case Reply::ack: {
        std::uint16_t behind = static_cast<std::uint16_t>(expected - got);
        if (got == expected) {
          blocks.pop_front();
          resends = repeats = ignored = 0;
          resent = false;
          if (abort_flag.load() != 0) return 0;
        } else if (behind == 1) {
          debug_info("Got NACK(%d)", static_cast<int>(got));
          // One repeat may be a duplicated packet; a second one means a block went missing.
          go_back = (++repeats >= 2 && !resent) || ++ignored >= 64;
        } else if (behind <= 4 * tftp_window) {
          go_back = ++ignored >= 64;  // a late answer to a block sent again
        } else {
          show_error("ACK TFTP packet hadn't appropriate sequence number(Expected:%d, Got:%d)",
                     static_cast<int>(expected), static_cast<int>(got));
          return 0;
        }
        break;
      }
    }
    if (!go_back) continue;
    if (resends == tftp_max_resends) {
      show_error("Maximum retries reached when trying to send packed %d",
                 static_cast<int>(expected));
      return 0;
    }
    ++resends;
    repeats = ignored = 0;
    resent = true;
    if (abort_flag.load() != 0) return 0;
    for (const auto& block : blocks)
      if (!send_packet(block.packet, block.number)) return 0;
  }
  return 1;
}

int send_block_fast(const std::uint8_t* data, std::uint32_t length) {
  auto& t = tftp_state();
  if (abort_flag.load() != 0) return 0;
  std::uint16_t block = t.block_number.load();
  auto packet = data_packet(block, data, length);
  if (!send_packet(packet, block)) return 0;
  outstanding().push_back(Outstanding{block, std::move(packet)});
  t.block_number = static_cast<std::uint16_t>(block + 1);
  if (t.window_count < tftp_window) ++t.window_count;
  if (length == t.block_size) {
    if (!await_acks(tftp_window)) return 0;
    return abort_flag.load() != 0 ? 0 : 1;
  }
  // The final block: every outstanding block and the final one must be acknowledged.
  if (!await_acks(0)) return 0;
  t.window_count = 0;
  return 1;
}

}  // namespace

TftpState& tftp_state() {
  static TftpState state;
  return state;
}

void reset_tftp_state() {
  auto& t = tftp_state();
  t.tftp_socket.close();
  t.socket_open = false;
  t.device_ip = 0;
  t.peer = udp::Address{};
  t.block_number = 0;
  t.block_size = 512;
  t.window_count = 0;
  t.final_block_sent = false;
  t.fast = false;
  t.write_time_ms = t.read_time_ms = t.transfer_start_ms = 0;
  t.ack_wait_ms = 1000;
  t.start_wait_ms = 1000;
  outstanding().clear();
}

void build_write_request(std::uint8_t (&packet)[tftp_request_size]) {
  static constexpr std::uint8_t request[tftp_request_size] = {
      0,   2, 'b', 'o', 'o', 't', '.', 'b', 'i', 'n', 0,   'o', 'c', 't', 'e',
      't', 0, 'b', 'l', 'k', 's', 'i', 'z', 'e', 0,   '1', '0', '2', '4', 0};
  std::memcpy(packet, request, tftp_request_size);
}

std::uint32_t check_start_reply(std::span<const std::uint8_t> reply, std::uint16_t block_number) {
  // The reply is looked at as it lies in a zero-filled buffer of 256 bytes.
  std::uint8_t buffer[reply_capacity] = {};
  std::memcpy(buffer, reply.data(), std::min(reply.size(), reply_capacity));
  if (buffer[1] != 4 && buffer[1] != 6) return 0;
  if (buffer[3] != static_cast<std::uint8_t>(block_number)) return 0;
  if (buffer[1] == 6 && std::memcmp(buffer + 4, option_text, sizeof option_text) == 0) return 1024;
  return 512;
}

bool parse_ack(std::span<const std::uint8_t> packet, std::uint16_t& number) {
  if (packet.size() < 4 || packet[1] != 4) return false;
  number = static_cast<std::uint16_t>((packet[2] << 8) | packet[3]);
  return true;
}

int tftp_start(ui::Window dialog) {
  auto& t = tftp_state();
  t.window_count = 0;
  outstanding().clear();
  t.tftp_socket = udp::Socket::create();
  if (!t.tftp_socket) {
    show_error("Windows Sockets error %d: Couldn't create socket.", udp::last_error());
    end_start_with_failure(dialog);
    return 0;
  }
  BootmeInfo target = last_bootme();
  t.device_ip = udp::ip_from_bytes(target.ip);
  t.socket_open = true;
  if (!t.tftp_socket.bind(udp::Address{udp::any_ip, 0})) {
    show_error("Windows Sockets error %d: Couldn't bind socket.", udp::last_error());
    end_start_with_failure(dialog);
    return 0;
  }
  t.peer = udp::Address{t.device_ip, udp::module_port()};
  std::uint8_t request[tftp_request_size];
  build_write_request(request);
  if (t.tftp_socket.send_to(request, t.peer) < 0) {
    show_error("Windows Sockets error %d: Couldn't send initial TFTP socket.", udp::last_error());
    end_start_with_failure(dialog);
    return 0;
  }
  // The reply counts only from the module's own address (from any port: a server may answer
  // from a new transfer port); whatever another host sends meanwhile is dropped.
  std::uint8_t reply[reply_capacity] = {};
  auto deadline = SteadyClock::now() + std::chrono::milliseconds(t.start_wait_ms.load());
  udp::Address from;
  int error = 0;
  int n = receive_accepted(reply, from, deadline, error,
                           [&](const udp::Address& a) { return a.ip == t.device_ip; });
  if (n >= 0) t.peer = from;
  if (n < 0 || n > static_cast<int>(reply_capacity)) {
    show_error("Windows Sockets error %d: Couldn't receive ACK for initial TFTP socket.", error);
    end_start_with_failure(dialog);
    return 0;
  }
  t.tftp_socket.connect(t.peer);
  std::uint32_t size = check_start_reply(
      std::span<const std::uint8_t>(reply, static_cast<std::size_t>(n)), t.block_number.load());
  if (size == 0) {
    end_start_with_failure(dialog);
    return 0;
  }
  t.block_size = size;
  t.fast = fast_download.load() != 0;
  t.block_number = static_cast<std::uint16_t>(t.block_number.load() + 1);
  t.write_time_ms = t.read_time_ms = 0;
  t.final_block_sent = false;
  t.transfer_start_ms = clock::tick_ms();
  return 1;
}

int tftp_write(const std::uint8_t* data, std::uint32_t, std::uint32_t length) {
  auto& t = tftp_state();
  std::uint32_t done = 0;
  while (length - done >= t.block_size) {
    if (!send_block(data + done, t.block_size)) return 0;
    done += t.block_size;
  }
  if (done < length) {
    if (!send_block(data + done, length - done)) return 0;
    t.final_block_sent = true;
  }
  return 1;
}

int tftp_finish() {
  auto& t = tftp_state();
  if (t.final_block_sent) return 1;
  return send_block(nullptr, 0);
}

int send_block(const std::uint8_t* data, std::uint32_t length) {
  auto& t = tftp_state();
  if (!t.socket_open) return 1;
  return t.fast ? send_block_fast(data, length) : send_block_normal(data, length);
}

}  // namespace dz
