// The simulated Ethernet module: BOOTME broadcaster, the bootloader's TFTP server and the EDBG
// jump answer, on a loopback UDP port.
#include "sim/ethernet_module.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/thread.h"

namespace dz::sim {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t max_file_size = 512u << 20;  // what the module's RAM could take

void put16le(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace

struct EthernetModule::Impl {
  udp::Socket socket;
  threads::Thread thread;
  std::mt19937 random;
  std::uniform_real_distribution<double> share{0.0, 1.0};
  struct Pending {
    Clock::time_point due;
    udp::Address to;
    std::vector<std::uint8_t> bytes;
  };
  std::deque<Pending> pending;  // packets on their way out (latency)
  Clock::time_point next_bootme;
  std::uint8_t bootme_sequence = 0;
  // The transfer.
  bool session = false;
  udp::Address client;
  std::uint16_t expected = 1;
  bool wrong_ack_done = false;
  bool stray_ack_done = false;

  bool chance(double p) { return p > 0 && share(random) < p; }
};

EthernetModule::EthernetModule(EthernetModuleConfig config)
    : config_(std::move(config)), impl_(std::make_unique<Impl>()) {
  announcing_ = config_.announce;
  impl_->random.seed(config_.seed);
}

EthernetModule::~EthernetModule() {
  stop();
}

bool EthernetModule::start(std::string& error) {
  impl_->socket = udp::Socket::create();
  if (!impl_->socket) {
    error = "cannot create the module's socket (error " + std::to_string(udp::last_error()) + ")";
    return false;
  }
  if (!impl_->socket.bind(udp::Address{udp::loopback_ip, config_.port})) {
    error = "cannot bind the module's port " + std::to_string(config_.port) + " (error " +
            std::to_string(udp::last_error()) + ")";
    impl_->socket.close();
    return false;
  }
  impl_->socket.set_receive_buffer(1 << 20);
  port_ = impl_->socket.local_address().port;
  if (config_.loader_port == 0) config_.loader_port = udp::bootme_listen_port();
  impl_->next_bootme = Clock::now();
  stop_ = 0;
  impl_->thread = threads::Thread::start([this] { run(); });
  return true;
}

void EthernetModule::stop() {
  stop_ = 1;
  if (impl_->thread) impl_->thread.join();
  impl_->thread = threads::Thread();
  impl_->socket.close();
}

std::vector<std::uint8_t> EthernetModule::received_file() const {
  std::lock_guard lock(file_mutex_);
  return file_;
}

void EthernetModule::reset_for_download() {
  complete_ = false;
  data_packets_ = 0;
  announcing_ = true;
}

namespace {

std::vector<std::uint8_t> ack_packet(std::uint16_t number) {
  return std::vector<std::uint8_t>{0, 4, static_cast<std::uint8_t>(number >> 8),
                                   static_cast<std::uint8_t>(number)};
}

// Whether a write request is well formed (opcode, file name, mode, then option pairs, every text
// ending within the packet); `wants_blksize` tells whether it asks for blocks of 1024 or more.
bool parse_write_request(const std::uint8_t* p, std::size_t n, bool& wants_blksize) {
  wants_blksize = false;
  std::size_t pos = 2;
  int field = 0;
  std::string previous;
  while (pos < n) {
    const void* end = std::memchr(p + pos, 0, n - pos);
    if (end == nullptr) return false;
    std::string text(reinterpret_cast<const char*>(p + pos),
                     static_cast<const std::uint8_t*>(end) - (p + pos));
    if (field >= 2 && field % 2 == 1 && previous == "blksize")
      wants_blksize = std::atoi(text.c_str()) >= 1024;
    previous = text;
    pos += text.size() + 1;
    ++field;
  }
  return field >= 2;
}

}  // namespace

void EthernetModule::send(const udp::Address& to, std::vector<std::uint8_t> bytes) {
  Impl& m = *impl_;
  if (config_.latency_us == 0) {
    m.socket.send_to(bytes, to);
    return;
  }
  m.pending.push_back(
      {Clock::now() + std::chrono::microseconds(config_.latency_us), to, std::move(bytes)});
}

// `final`: the block is the last of the file (shorter than the block size).
void EthernetModule::send_ack(std::uint16_t number, bool final) {
  Impl& m = *impl_;
  const std::uint16_t block = number;
  if (m.chance(config_.drop_ack)) return;
  if (config_.drop_acks_from >= 0 && number >= config_.drop_acks_from) return;
  if (final && config_.drop_final_ack) return;
  if (config_.wrong_ack_block >= 0 && number == config_.wrong_ack_block && !m.wrong_ack_done) {
    m.wrong_ack_done = true;
    number = static_cast<std::uint16_t>(number + 100);
  } else if (final && config_.wrong_final_ack) {
    number = static_cast<std::uint16_t>(number + 100);
  }
  auto ack = ack_packet(number);
  if (m.chance(config_.dup_ack)) send(m.client, ack);
  send(m.client, std::move(ack));
  if (config_.stray_ack_after >= 0 && block == config_.stray_ack_after && !m.stray_ack_done) {
    m.stray_ack_done = true;
    send(m.client, ack_packet(static_cast<std::uint16_t>(config_.stray_ack_block)));
  }
}

void EthernetModule::send_bootme() {
  std::vector<std::uint8_t> p(64, 0);
  std::memcpy(p.data(), "EDBG", 4);
  p[4] = 0xFF;  // admin service
  p[5] = 0x01;  // from the device
  p[6] = impl_->bootme_sequence++;
  p[7] = 0;  // BOOTME
  std::uint8_t* i = p.data() + 8;
  i[0] = config_.version_major;
  i[1] = config_.version_minor;
  std::copy(config_.mac.begin(), config_.mac.end(), i + 2);
  for (int k = 0; k < 4; ++k) i[8 + k] = static_cast<std::uint8_t>(config_.ip >> (24 - 8 * k));
  std::memcpy(i + 12, config_.platform_id.data(),
              std::min<std::size_t>(16, config_.platform_id.size()));
  std::memcpy(i + 29, config_.name.data(), std::min<std::size_t>(16, config_.name.size()));
  i[46] = config_.cpu_id;
  i[47] = config_.bootme_version;
  for (int k = 0; k < 4; ++k) i[48 + k] = static_cast<std::uint8_t>(config_.boot_flags >> (8 * k));
  put16le(i + 52, config_.download_port);
  put16le(i + 54, config_.service_port);
  impl_->socket.send_to(p, udp::Address{udp::loopback_ip, config_.loader_port});
}

void EthernetModule::start_transfer(const udp::Address& from) {
  Impl& m = *impl_;
  ++write_requests_;
  announcing_ = false;
  m.session = true;
  m.client = from;
  m.expected = 1;
  m.wrong_ack_done = false;
  m.stray_ack_done = false;
  complete_ = false;
  std::lock_guard lock(file_mutex_);
  file_.clear();
}

void EthernetModule::on_write_request(const std::uint8_t* p, std::size_t n,
                                      const udp::Address& from) {
  bool wants_blksize = false;
  if (!parse_write_request(p, n, wants_blksize)) return;
  start_transfer(from);
  static constexpr std::uint8_t oack_module[] = {0,   6,   0, 0,   'b', 'l', 'k', 's', 'i',
                                                 'z', 'e', 0, '1', '0', '2', '4', 0};
  static constexpr std::uint8_t oack_rfc[] = {0,   6, 'b', 'l', 'k', 's', 'i', 'z',
                                              'e', 0, '1', '0', '2', '4', 0};
  switch (wants_blksize ? config_.start_reply : StartReply::plain_ack) {
    case StartReply::module_oack:
      block_size_ = 1024;
      send(from, std::vector<std::uint8_t>(std::begin(oack_module), std::end(oack_module)));
      break;
    case StartReply::rfc_oack:
      block_size_ = 1024;
      send(from, std::vector<std::uint8_t>(std::begin(oack_rfc), std::end(oack_rfc)));
      break;
    case StartReply::plain_ack:
      block_size_ = 512;
      send(from, std::vector<std::uint8_t>{0, 4, 0, 0});
      break;
    case StartReply::none:
      impl_->session = false;
      break;
  }
}

void EthernetModule::on_data(const std::uint8_t* p, std::size_t n, const udp::Address& from) {
  Impl& m = *impl_;
  if (!m.session || !(from == m.client) || n < 4) return;
  ++data_packets_;
  if (m.chance(config_.drop_data)) return;
  std::uint16_t number = static_cast<std::uint16_t>((p[2] << 8) | p[3]);
  std::size_t length = n - 4;
  if (number == m.expected && !complete_.load() && length <= block_size_.load()) {
    {
      std::lock_guard lock(file_mutex_);
      if (file_.size() + length <= max_file_size) file_.insert(file_.end(), p + 4, p + n);
    }
    m.expected = static_cast<std::uint16_t>(number + 1);
    if (length < block_size_.load()) {
      complete_ = true;
      write_store();
    }
    send_ack(number, complete_.load());
  } else if (static_cast<std::uint16_t>(m.expected - number) <= 64) {
    // A block it already has: acknowledged again.
    send_ack(number, complete_.load() && number == static_cast<std::uint16_t>(m.expected - 1));
  } else {
    // Out of order: tells the sender again which block it has last.
    send_ack(static_cast<std::uint16_t>(m.expected - 1), complete_.load());
  }
}

void EthernetModule::on_edbg(const std::uint8_t* p, std::size_t n, const udp::Address& from) {
  if (n < 8 || p[7] != 2) return;  // only the jump command is served here
  ++jumps_;
  announcing_ = false;
  impl_->session = false;
  if (!config_.answer_jump) return;
  std::vector<std::uint8_t> answer(p, p + 8);
  answer[5] = 0x05;  // from the device, acknowledged
  send(from, std::move(answer));
  if (config_.reset_after_jump) {
    announcing_ = true;
    impl_->next_bootme = Clock::now() + std::chrono::milliseconds(config_.bootme_interval_ms);
  }
}

void EthernetModule::write_store() {
  if (config_.store.empty()) return;
  // Written beside the store and renamed over it, so that a reader never sees half a file.
  const std::string part = config_.store + ".part";
  {
    std::lock_guard lock(file_mutex_);
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file_.data()),
              static_cast<std::streamsize>(file_.size()));
    if (!out) return;
  }
  std::error_code ec;
  std::filesystem::rename(part, config_.store, ec);
}

void EthernetModule::send_due_packets() {
  Impl& m = *impl_;
  const auto now = Clock::now();
  while (!m.pending.empty() && m.pending.front().due <= now) {
    m.socket.send_to(m.pending.front().bytes, m.pending.front().to);
    m.pending.pop_front();
  }
}

// How long to wait for a packet: at most 20 ms, less when a delayed one falls due sooner.
std::uint32_t EthernetModule::wait_ms() const {
  if (impl_->pending.empty()) return 20;
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(impl_->pending.front().due -
                                                                        Clock::now())
                      .count();
  return static_cast<std::uint32_t>(std::clamp<long long>((us + 999) / 1000, 0, 20));
}

// Everything that has arrived is taken at once.
void EthernetModule::receive_burst() {
  Impl& m = *impl_;
  std::uint8_t packet[2048];
  for (int burst = 0; burst < 64; ++burst) {
    udp::Address from;
    int n = m.socket.receive_from(packet, from);
    if (n < 0) break;
    std::size_t size = std::min<std::size_t>(static_cast<std::size_t>(n), sizeof packet);
    if (size >= 4 && std::memcmp(packet, "EDBG", 4) == 0) {
      on_edbg(packet, size, from);
    } else if (size >= 2 && packet[0] == 0 && packet[1] == 2) {
      on_write_request(packet, size, from);
    } else if (size >= 2 && packet[0] == 0 && packet[1] == 3) {
      on_data(packet, size, from);
      if (m.chance(config_.dup_data)) on_data(packet, size, from);
    }
    if (m.socket.wait_readable(0) != 1) break;
  }
}

void EthernetModule::run() {
  Impl& m = *impl_;
  while (stop_.load() == 0) {
    send_due_packets();
    const auto now = Clock::now();
    if (announcing_.load() && now >= m.next_bootme) {
      send_bootme();
      m.next_bootme = now + std::chrono::milliseconds(config_.bootme_interval_ms);
    }
    if (m.socket.wait_readable(wait_ms()) == 1) receive_burst();
  }
}

}  // namespace dz::sim
