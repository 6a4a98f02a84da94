// The simulated FTDI adapter: MPSSE engine and USB bus.
#include "sim/ftdi_adapter.h"

#include <cstdio>
#include <cstring>

#include "platform/clock.h"

namespace dz::sim {
namespace {

constexpr std::uint8_t bad_command_reply = 0xFA;
constexpr std::uint8_t tck_bit = 0x01, tdi_bit = 0x02, tms_bit = 0x08;  // TDO is AD2

// Data shifting flags.
constexpr std::uint8_t flag_bit_mode = 0x02;
constexpr std::uint8_t flag_lsb_first = 0x08;
constexpr std::uint8_t flag_write_tdi = 0x10;
constexpr std::uint8_t flag_read_tdo = 0x20;
constexpr std::uint8_t flag_write_tms = 0x40;

bool is_shift_command(std::uint8_t op) {
  if (op & 0x80) return false;
  if (op & flag_write_tms) return (op & flag_bit_mode) && !(op & flag_write_tdi);
  return (op & (flag_write_tdi | flag_read_tdo)) != 0;
}

}  // namespace

MpsseEngine::MpsseEngine(Pxa& cpu, const ftdi::AdapterModel& model)
    : cpu_(cpu), model_(model), olimex_(std::strncmp(model.key, "olimex", 6) == 0) {
  enter_mpsse();
}

void MpsseEngine::enter_mpsse() {
  pending_.clear();
  replies_.clear();
  immediate_ = false;
  // set_bitmode(0x0b, MPSSE): TCK, TDI, TMS outputs at low level; everything else input.
  low_value_ = 0;
  low_dir_ = 0x0B;
  high_value_ = 0;
  high_dir_ = 0;
  divisor_ = 0;
  div5_ = true;
  loopback_ = false;
  apply_pins();
}

std::uint32_t MpsseEngine::tck_hz() const {
  const std::uint32_t base = model_.chip == ftdi::Chip::ft2232h && !div5_ ? 30000000u : 6000000u;
  return base / (divisor_ + 1);
}

std::uint64_t MpsseEngine::take_tck_ps() {
  const std::uint64_t ps = tck_ps_;
  tck_ps_ = 0;
  return ps;
}

bool MpsseEngine::take_replies(std::uint8_t* out, std::size_t size) {
  if (replies_.size() < size) return false;
  std::memcpy(out, replies_.data(), size);
  replies_.erase(replies_.begin(), replies_.begin() + static_cast<std::ptrdiff_t>(size));
  if (replies_.empty()) immediate_ = false;
  return true;
}

void MpsseEngine::receive(const std::uint8_t* data, std::size_t size) {
  pending_.insert(pending_.end(), data, data + size);
  std::size_t at = 0;
  while (at < pending_.size()) {
    const std::size_t n = command_length(pending_.data() + at, pending_.size() - at);
    if (n == 0) break;  // incomplete: wait for the rest
    execute(pending_.data() + at, n);
    at += n;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
}

// Bytes the command at `p` takes, or 0 when more must arrive first.
std::size_t MpsseEngine::command_length(const std::uint8_t* p, std::size_t avail) const {
  const std::uint8_t op = p[0];
  std::size_t need = 1;
  if (is_shift_command(op)) {
    const bool writes = (op & (flag_write_tdi | flag_write_tms)) != 0;
    if (op & flag_bit_mode) {
      need = writes ? 3 : 2;
    } else {
      if (avail < 3) return 0;
      const std::size_t length = (static_cast<std::size_t>(p[1]) | (std::size_t{p[2]} << 8)) + 1;
      need = 3 + (writes ? length : 0);
    }
  } else {
    switch (op) {
      case 0x80:
      case 0x82:
      case 0x86:
        need = 3;
        break;
      default:
        need = 1;  // one-byte commands and bad opcodes
    }
  }
  return avail >= need ? need : 0;
}

void MpsseEngine::execute(const std::uint8_t* p, std::size_t) {
  const std::uint8_t op = p[0];
  if (is_shift_command(op)) {
    shift_data(op, p);
    return;
  }
  const bool h_chip = model_.chip == ftdi::Chip::ft2232h;
  switch (op) {
    case 0x80:
      low_value_ = p[1];
      low_dir_ = p[2];
      apply_pins();
      return;
    case 0x82:
      high_value_ = p[1];
      high_dir_ = p[2];
      apply_pins();
      return;
    case 0x81:
    case 0x83: {
      std::uint8_t v = 0;
      for (int b = 0; b < 8; ++b)
        if (pin_level_high((op == 0x83 ? 8 : 0) + b)) v = static_cast<std::uint8_t>(v | (1 << b));
      replies_.push_back(v);
      return;
    }
    case 0x84:
      loopback_ = true;
      return;
    case 0x85:
      loopback_ = false;
      return;
    case 0x86:
      divisor_ = static_cast<std::uint32_t>(p[1]) | (static_cast<std::uint32_t>(p[2]) << 8);
      return;
    case 0x87:
      immediate_ = true;
      return;
    case 0x8A:
    case 0x8B:
      if (h_chip) {
        div5_ = op == 0x8B;
        return;
      }
      break;
    default:
      break;
  }
  ++bad_commands_;
  replies_.push_back(bad_command_reply);
  replies_.push_back(op);
}

// One TCK cycle: TMS and TDI set with the falling edge, TDO sampled at the rising edge.
int MpsseEngine::clock(bool tms, bool tdi) {
  ++tck_cycles_;
  tck_ps_ += 1000000000000ull / tck_hz();
  int tdo = 1;
  if (jtag_connected()) {
    cpu_.set_jtag_pins(false, tms, tdi);
    tdo = cpu_.tdo() ? 1 : 0;
    cpu_.set_jtag_pins(true, tms, tdi);
    cpu_.set_jtag_pins(false, tms, tdi);
  }
  if (loopback_) tdo = tdi ? 1 : 0;
  low_value_ = static_cast<std::uint8_t>((low_value_ & ~(tms_bit | tdi_bit | tck_bit)) |
                                         (tms ? tms_bit : 0) | (tdi ? tdi_bit : 0));
  return tdo;
}

void MpsseEngine::shift_data(std::uint8_t op, const std::uint8_t* p) {
  const bool lsb = (op & flag_lsb_first) != 0;
  const bool read = (op & flag_read_tdo) != 0;
  const bool tms_mode = (op & flag_write_tms) != 0;
  const bool tms_level = (low_value_ & tms_bit) != 0;
  if (op & flag_bit_mode) {
    const int bits = (p[1] & 7) + 1;
    const std::uint8_t out = (op & (flag_write_tdi | flag_write_tms)) ? p[2] : 0;
    std::uint8_t in = 0;
    for (int i = 0; i < bits; ++i) {
      int tdo;
      if (tms_mode) {
        tdo = clock(((out >> i) & 1) != 0, (out & 0x80) != 0);
      } else {
        const int bit = lsb ? (out >> i) & 1 : (out >> (7 - i)) & 1;
        tdo = clock(tms_level, bit != 0);
      }
      in = lsb || tms_mode ? static_cast<std::uint8_t>((in >> 1) | (tdo << 7))
                           : static_cast<std::uint8_t>((in << 1) | tdo);
    }
    if (read) replies_.push_back(in);
    return;
  }
  const std::size_t length = (static_cast<std::size_t>(p[1]) | (std::size_t{p[2]} << 8)) + 1;
  const std::uint8_t* data = (op & flag_write_tdi) ? p + 3 : nullptr;
  for (std::size_t n = 0; n < length; ++n) {
    const std::uint8_t out = data ? data[n] : 0;
    std::uint8_t in = 0;
    for (int i = 0; i < 8; ++i) {
      const int bit = lsb ? (out >> i) & 1 : (out >> (7 - i)) & 1;
      const int tdo = clock(tms_level, bit != 0);
      in = lsb ? static_cast<std::uint8_t>(in | (tdo << i))
               : static_cast<std::uint8_t>(in | (tdo << (7 - i)));
    }
    if (read) replies_.push_back(in);
  }
}

bool MpsseEngine::pin_level_high(int pin) const {
  const std::uint8_t value = pin < 8 ? low_value_ : high_value_;
  const std::uint8_t dir = pin < 8 ? low_dir_ : high_dir_;
  const std::uint8_t bit = static_cast<std::uint8_t>(1 << (pin % 8));
  if (pin == 2) return jtag_connected() ? cpu_.tdo() : true;  // TDO, an input
  return (dir & bit) ? (value & bit) != 0 : true;
}

bool MpsseEngine::jtag_connected() const {
  if ((low_dir_ & (tck_bit | tdi_bit | tms_bit)) != (tck_bit | tdi_bit | tms_bit)) return false;
  if (olimex_) return true;
  // JTAGkey: AD4 is the active-low enable of the output buffers.
  return (low_dir_ & 0x10) && !(low_value_ & 0x10);
}

void MpsseEngine::apply_pins() {
  auto driven_low = [&](int bit) {
    return (high_dir_ & (1 << bit)) && !(high_value_ & (1 << bit));
  };
  auto driven_high = [&](int bit) {
    return (high_dir_ & (1 << bit)) && (high_value_ & (1 << bit));
  };
  const bool trst = driven_low(2) && driven_low(0);
  const bool srst = olimex_ ? driven_high(1) : driven_low(3) && driven_low(1);
  if (trst != cpu_.trst()) cpu_.set_trst(trst);
  cpu_.set_srst(srst);
}

// --- the USB side ----------------------------------------------------------------------------

class SimChannel final : public ftdi::Channel {
 public:
  explicit SimChannel(FtdiAdapterSim& adapter) : adapter_(adapter) {}
  ~SimChannel() override { adapter_.open_ = false; }
  bool write(const std::uint8_t* data, std::size_t size) override {
    return adapter_.channel_write(data, size);
  }
  bool read(std::uint8_t* data, std::size_t size) override {
    return adapter_.channel_read(data, size);
  }

 private:
  FtdiAdapterSim& adapter_;
};

FtdiAdapterSim::FtdiAdapterSim(Pxa& cpu, const ftdi::AdapterModel& model)
    : cpu_(cpu), model_(model), engine_(cpu, model), product_(model.product) {}

FtdiAdapterSim::~FtdiAdapterSim() {
  uninstall();
}

void FtdiAdapterSim::install() {
  ftdi::set_simulated_bus(this);
  installed_ = true;
}

void FtdiAdapterSim::uninstall() {
  if (installed_ && ftdi::simulated_bus() == this) ftdi::set_simulated_bus(nullptr);
  installed_ = false;
}

int FtdiAdapterSim::find_devices(ftdi::UsbDevice* out, int max, char*, std::size_t) {
  int n = 0;
  for (int i = 0; i < plugged_ && n < max; ++i, ++n) {
    ftdi::UsbDevice d;
    d.vid = model_.vid;
    d.pid = model_.pid;
    d.bcd_device = high_speed() ? 0x0700 : 0x0500;
    std::snprintf(d.product, sizeof d.product, "%s", product_.c_str());
    std::snprintf(d.serial, sizeof d.serial, "SIM%04d", i);
    out[n] = d;
  }
  return n;
}

std::unique_ptr<ftdi::Channel> FtdiAdapterSim::open(const ftdi::UsbDevice& device,
                                                    std::uint8_t latency_ms, char* error,
                                                    std::size_t error_size) {
  const bool ours = device.vid == model_.vid && device.pid == model_.pid && plugged_ > 0;
  if (!ours || refuse_open_ || open_) {
    if (error && error_size) std::snprintf(error, error_size, "USB open: access denied");
    return nullptr;
  }
  ++opens_;
  open_ = true;
  latency_ms_ = latency_ms;
  engine_.enter_mpsse();
  return std::make_unique<SimChannel>(*this);
}

void FtdiAdapterSim::charge_ps(std::uint64_t ps) {
  remainder_ps_ += ps;
  const std::uint64_t us = remainder_ps_ / 1000000;
  remainder_ps_ %= 1000000;
  if (us) clock::advance_us(us);
}

bool FtdiAdapterSim::channel_write(const std::uint8_t* data, std::size_t size) {
  ++transfers_out_;
  bytes_out_ += size;
  if (recording_) recorded_.emplace_back(data, data + size);
  engine_.receive(data, size);
  // Half a round trip for the transfer, then the TCK time of what it carried.
  const std::uint64_t half_trip_us = high_speed() ? 62 : 500;
  charge_ps(half_trip_us * 1000000 + (high_speed() ? 500000 : 0) + engine_.take_tck_ps());
  return true;
}

bool FtdiAdapterSim::channel_read(std::uint8_t* data, std::size_t size) {
  ++transfers_in_;
  // Without send-immediate the chip holds its replies until the latency timer runs out.
  const std::uint64_t half_trip_ps = high_speed() ? 62500000ull : 500000000ull;
  const std::uint64_t wait_ps = engine_.send_immediate_seen() ? 0 : latency_ms_ * 1000000000ull;
  if (!engine_.take_replies(data, size)) {
    charge_ps(1000000000000ull);  // the host's time-out, a second
    return false;
  }
  charge_ps(half_trip_ps + wait_ps);
  return true;
}

}  // namespace dz::sim
