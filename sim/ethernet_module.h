#pragma once
// A simulated Ethernet module whose bootloader waits for a download: it broadcasts BOOTME
// announcements to the loader's port on loopback, serves the TFTP write of the image on its own
// port (EDBG and TFTP share that port, told apart by the first four bytes), keeps the received
// file, and answers the EDBG jump command. On request it loses or repeats a share of the packets
// it receives or the acknowledgements it sends, acknowledges a block with a wrong number, stays
// silent about the last blocks, or sends a stray acknowledgement of a block ahead.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/udp.h"

namespace dz::sim {

// How the module answers the write request.
enum class StartReply {
  module_oack,  // 00 06 00 00 "blksize" 00 "1024" 00 (the module's own layout): 1024-byte blocks
  plain_ack,    // 00 04 00 00: 512-byte blocks
  rfc_oack,     // 00 06 "blksize" 00 "1024" 00 (RFC 2347 layout)
  none,         // no answer at all
};

struct EthernetModuleConfig {
  std::string name = "PXA270-SIM";
  std::string platform_id = "PXA27X";
  std::array<std::uint8_t, 6> mac = {0x00, 0x0E, 0x1F, 0x00, 0x27, 0x01};
  std::uint32_t ip = udp::loopback_ip;  // announced address (first octet most significant)
  std::uint8_t version_major = 1;
  std::uint8_t version_minor = 7;
  std::uint8_t cpu_id = 0x40;  // ARM
  std::uint8_t bootme_version = 2;
  std::uint32_t boot_flags = 0;
  std::uint16_t download_port = 980;
  std::uint16_t service_port = 0;

  std::uint16_t loader_port = 0;  // where BOOTME goes on 127.0.0.1; 0 = udp::bootme_listen_port()
  std::uint16_t port = 0;         // the module's own port; 0 = any free one
  std::uint32_t bootme_interval_ms = 200;
  bool announce = true;

  StartReply start_reply = StartReply::module_oack;
  double drop_data = 0;          // share of data blocks lost on the way in
  double dup_data = 0;           // share of data blocks that arrive twice
  double drop_ack = 0;           // share of acknowledgements lost on the way out
  double dup_ack = 0;            // share of acknowledgements sent twice
  int wrong_ack_block = -1;      // acknowledge this block (once) with a number 100 too high
  bool wrong_final_ack = false;  // the final (short or empty) block always so
  // Faulty acknowledgement of the end: from this block on no acknowledgement leaves the module
  // (-1: off), and with drop_final_ack the final block is never acknowledged.
  int drop_acks_from = -1;
  bool drop_final_ack = false;
  // Right after acknowledging block stray_ack_after (the first time) the module also sends, once,
  // an acknowledgement of block stray_ack_block, which it may not even have (-1: off).
  int stray_ack_after = -1;
  int stray_ack_block = -1;
  bool answer_jump = true;
  // After answering the jump the module is reset at once: its bootloader announces itself again
  // and takes the next download (several downloads into one running module).
  bool reset_after_jump = false;
  // Where the module keeps the file: written whenever a transfer is complete, before the final
  // block is acknowledged, so that whoever saw the transfer end can read it (empty: nowhere).
  std::string store;
  std::uint32_t latency_us = 0;  // one-way delay of every packet the module sends
  std::uint32_t seed = 1;
};

class EthernetModule {
 public:
  explicit EthernetModule(EthernetModuleConfig config);
  ~EthernetModule();
  EthernetModule(const EthernetModule&) = delete;
  EthernetModule& operator=(const EthernetModule&) = delete;

  // Opens the module's socket and starts its thread; false with `error` on failure.
  bool start(std::string& error);
  void stop();
  std::uint16_t port() const { return port_; }
  const EthernetModuleConfig& config() const { return config_; }

  // What the module has seen.
  std::vector<std::uint8_t> received_file() const;  // the file of the last write request
  bool transfer_complete() const { return complete_.load(); }
  std::uint32_t block_size() const { return block_size_.load(); }
  int write_requests() const { return write_requests_.load(); }
  int data_packets() const { return data_packets_.load(); }  // every data packet that arrived
  int jump_commands() const { return jumps_.load(); }
  bool final_block_received() const { return complete_.load(); }

  // BOOTME on or off (the module stops announcing when a write request arrives, and after the
  // jump; a new download needs announcing on again).
  void set_announcing(bool on) { announcing_ = on; }
  // Forgets the last transfer and announces again.
  void reset_for_download();

 private:
  struct Impl;
  // The module's thread and its steps.
  void run();
  void send_due_packets();
  std::uint32_t wait_ms() const;
  void receive_burst();
  void send(const udp::Address& to, std::vector<std::uint8_t> bytes);
  void send_ack(std::uint16_t number, bool final);
  void send_bootme();
  void on_write_request(const std::uint8_t* p, std::size_t n, const udp::Address& from);
  void start_transfer(const udp::Address& from);
  void on_data(const std::uint8_t* p, std::size_t n, const udp::Address& from);
  void on_edbg(const std::uint8_t* p, std::size_t n, const udp::Address& from);
  void write_store();

  EthernetModuleConfig config_;
  std::uint16_t port_ = 0;
  std::unique_ptr<Impl> impl_;
  std::atomic<int> stop_{0};
  std::atomic<bool> announcing_{true};
  std::atomic<bool> complete_{false};
  std::atomic<std::uint32_t> block_size_{0};
  std::atomic<int> write_requests_{0};
  std::atomic<int> data_packets_{0};
  std::atomic<int> jumps_{0};
  mutable std::mutex file_mutex_;
  std::vector<std::uint8_t> file_;
};

}  // namespace dz::sim
