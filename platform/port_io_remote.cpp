// The remote_bitbang client, the same on every platform: only platform/tcp.h differs.
#include <utility>
#include <vector>

#include "platform/port_io.h"
#include "platform/tcp.h"

namespace dz::port_io {
namespace {

// OpenOCD remote_bitbang client. Data-register writes become '0'..'7' (and 'r'..'u' when the
// cable's reset lines change), status reads become 'R'. Writes are collected and sent with the
// next read or flush, in order.
class RemoteBitbangPort final : public Backend {
 public:
  RemoteBitbangPort(tcp::Stream stream, const CableWiring& wiring)
      : stream_(std::move(stream)), wiring_(wiring) {
    out_.reserve(buffer_limit + 8);
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
    if (out_.size() >= buffer_limit) flush();
  }

  std::uint8_t read(std::uint16_t address) override {
    if (address != base_ + 1) return 0xFF;
    out_.push_back('R');
    flush();
    std::uint8_t answer = 0;
    int tdo = 1;
    if (!failed_) {
      int got = stream_.read_some(&answer, 1, 5000);
      if (got == 1 && (answer == '0' || answer == '1'))
        tdo = answer - '0';
      else
        failed_ = true;
    }
    const bool bit = wiring_.tdo_inverted ? !tdo : tdo;
    return bit ? wiring_.tdo_status : 0;
  }

  void flush() override {
    if (out_.empty()) return;
    if (!failed_ && !stream_.write_all(out_.data(), out_.size())) failed_ = true;
    out_.clear();
  }

 private:
  static constexpr std::size_t buffer_limit = 4096;
  tcp::Stream stream_;
  CableWiring wiring_;
  std::uint16_t base_ = 0x378;
  std::vector<std::uint8_t> out_;
  int last_pins_ = -1;
  int last_reset_ = -1;
  bool failed_ = false;  // the link broke: TDO then reads as a constant 1
};

}  // namespace

std::unique_ptr<Backend> open_remote_bitbang(std::string_view host, std::uint16_t tcp_port,
                                             const CableWiring& wiring, std::string& reason) {
  tcp::Stream stream = tcp::connect(host, tcp_port, reason);
  if (!stream) return nullptr;
  return std::make_unique<RemoteBitbangPort>(std::move(stream), wiring);
}

}  // namespace dz::port_io
