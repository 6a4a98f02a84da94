// The remote_bitbang client, the same on every platform: only platform/tcp.h differs.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/debug.h"
#include "platform/port_io.h"
#include "platform/tcp.h"

namespace dz::port_io {
namespace {

// OpenOCD remote_bitbang client. Data-register writes become '0'..'7' (and 'r'..'u' when the
// cable's reset lines change), status reads become 'R'. Requests are collected and sent together;
// the answers to a scan's queued reads are received together after its last request, so a scan
// costs one round trip, not one per bit. A link that fails (the server closes, answers nonsense
// or stays silent for the wait limit) is said once on the debug output; from then on nothing is
// sent and TDO reads as a constant 1, which identification reports as no processor.
class RemoteBitbangPort final : public Backend {
 public:
  RemoteBitbangPort(tcp::Stream stream, const CableWiring& wiring, std::string peer)
      : stream_(std::move(stream)), wiring_(wiring), peer_(std::move(peer)) {
    out_.reserve(send_limit + 8);
  }
  ~RemoteBitbangPort() override { flush(); }

  void opened(std::uint16_t base, std::uint32_t) override { base_ = base; }

  void write(std::uint16_t address, std::uint8_t value) override {
    if (address != base_) return;
    const int tck = (value & wiring_.tck) ? 1 : 0;
    const int tms = (value & wiring_.tms) ? 1 : 0;
    const int tdi = (value & wiring_.tdi) ? 1 : 0;
    if (wiring_.trst_n != 0 || wiring_.srst != 0) {
      const int trst = (wiring_.trst_n != 0 && (value & wiring_.trst_n) == 0) ? 1 : 0;
      const int srst = (wiring_.srst != 0 && (value & wiring_.srst) != 0) ? 1 : 0;
      const int reset = trst << 1 | srst;
      if (reset != last_reset_) {
        out_.push_back(static_cast<std::uint8_t>('r' + reset));
        last_reset_ = reset;
      }
    }
    const int pins = tck << 2 | tms << 1 | tdi;
    if (pins != last_pins_) {
      out_.push_back(static_cast<std::uint8_t>('0' + pins));
      last_pins_ = pins;
    }
    if (out_.size() >= send_limit) flush();
  }

  std::uint8_t read(std::uint16_t address) override {
    if (address != base_ + 1) return 0xFF;
    read_later(address);
    std::uint8_t status = 0;
    take_reads(&status, 1);
    return status;
  }

  bool batches_reads() const override { return true; }

  void read_later(std::uint16_t address) override {
    if (address != base_ + 1) {
      receive_awaited();         // answers stay in program order
      answers_.push_back(0xFF);  // no such register on the link: reads as the null port does
      return;
    }
    out_.push_back('R');
    ++awaited_;
    // Both sides' socket buffers are finite: past a limit, receive what is owed before asking
    // for more, so that neither end blocks in a send while the other does too.
    if (awaited_ >= answer_limit) receive_awaited();
    if (out_.size() >= send_limit) flush();
  }

  void take_reads(std::uint8_t* values, std::size_t count) override {
    receive_awaited();
    const std::size_t available = answers_.size() - taken_;
    const std::size_t n = count < available ? count : available;
    std::copy_n(answers_.begin() + static_cast<std::ptrdiff_t>(taken_), n, values);
    std::fill_n(values + n, count - n, status_of(1));
    taken_ += n;
    if (taken_ == answers_.size()) {
      answers_.clear();
      taken_ = 0;
    }
  }

  void flush() override {
    if (out_.empty()) return;
    if (!failed_ && !stream_.write_all(out_.data(), out_.size()))
      fail("the connection broke while sending");
    out_.clear();
  }

 private:
  static constexpr std::size_t send_limit = 4096;
  static constexpr std::size_t answer_limit = 8192;
  static constexpr int wait_limit_ms = 5000;  // without a byte from the server

  std::uint8_t status_of(int tdo) const {
    const bool bit = wiring_.tdo_inverted ? !tdo : tdo != 0;
    return bit ? wiring_.tdo_status : 0;
  }

  void fail(const char* what) {
    if (!failed_) debug_print("remote_bitbang server %s: %s; TDO now reads 1", peer_.c_str(), what);
    failed_ = true;
  }

  // Sends what is queued and receives the answers to every 'R' sent, however the server splits
  // them; a failed link answers 1 for each.
  void receive_awaited() {
    if (awaited_ == 0) return;
    flush();
    std::uint8_t chunk[1024];
    while (awaited_ > 0 && !failed_) {
      const std::size_t want = awaited_ < sizeof chunk ? awaited_ : sizeof chunk;
      const int got = stream_.read_some(chunk, want, wait_limit_ms);
      if (got == 0) {
        fail("closed the connection");
      } else if (got == -2) {
        fail("sent no answer within 5 s");
      } else if (got < 0) {
        fail("the connection broke while receiving");
      } else {
        for (int k = 0; k < got; ++k) {
          if (chunk[k] != '0' && chunk[k] != '1') {
            fail("answered a read with something other than '0' or '1'");
            break;
          }
          answers_.push_back(status_of(chunk[k] - '0'));
          --awaited_;
        }
      }
    }
    for (; awaited_ > 0; --awaited_) answers_.push_back(status_of(1));
  }

  tcp::Stream stream_;
  CableWiring wiring_;
  std::string peer_;
  std::uint16_t base_ = 0x378;
  std::vector<std::uint8_t> out_;
  std::vector<std::uint8_t> answers_;  // status values of reads answered; from taken_ on not yet
  std::size_t taken_ = 0;              // given to the cable layer
  std::size_t awaited_ = 0;            // 'R' sent or queued, not yet answered
  int last_pins_ = -1;
  int last_reset_ = -1;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<Backend> open_remote_bitbang(std::string_view host, std::uint16_t tcp_port,
                                             const CableWiring& wiring, std::string& reason) {
  tcp::Stream stream = tcp::connect(host, tcp_port, reason);
  if (!stream) return nullptr;
  return std::make_unique<RemoteBitbangPort>(std::move(stream), wiring,
                                             std::string(host) + ":" + std::to_string(tcp_port));
}

}  // namespace dz::port_io
