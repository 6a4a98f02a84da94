// The FTDI JTAG library's operations carried out by the chip's MPSSE engine over a USB bus, and
// the choice of library (simulated bus, else the platform's own).
#include "platform/ftdi.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace dz::ftdi {

const AdapterModel* find_adapter_model(std::uint16_t vid, std::uint16_t pid, const char* product) {
  if (product == nullptr) return nullptr;
  for (const auto& m : adapter_models)
    if (m.vid == vid && m.pid == pid && std::strcmp(m.product, product) == 0) return &m;
  return nullptr;
}

const AdapterModel* find_adapter_model(const std::string& key) {
  for (const auto& m : adapter_models)
    if (key == m.key) return &m;
  return nullptr;
}

namespace {

// MPSSE opcodes used for JTAG: data out on the falling edge, in on the rising edge, LSB first.
constexpr std::uint8_t op_bytes_out = 0x19;
constexpr std::uint8_t op_bits_out = 0x1B;
constexpr std::uint8_t op_bytes_inout = 0x39;
constexpr std::uint8_t op_bits_inout = 0x3B;
constexpr std::uint8_t op_tms_out = 0x4B;
constexpr std::uint8_t op_tms_inout = 0x6B;
constexpr std::uint8_t op_set_low = 0x80;
constexpr std::uint8_t op_set_high = 0x82;
constexpr std::uint8_t op_loopback_off = 0x85;
constexpr std::uint8_t op_divisor = 0x86;
constexpr std::uint8_t op_send_immediate = 0x87;
constexpr std::uint8_t op_divide_by_5_on = 0x8B;
constexpr std::uint8_t op_bad = 0xAA;  // no such command: the chip answers 0xFA, 0xAA
constexpr std::uint8_t bad_command_reply = 0xFA;

// The reply bytes one execution may have the chip hold before the host reads them (an FT2232C
// buffers 384 bytes towards the host; staying below keeps the chip from stalling).
constexpr std::uint32_t max_segment_reply = 256;
constexpr std::uint32_t max_write_chunk = 65536;  // bytes per 0x19 command

// JTAG pins on ADBUS: TCK, TDI, TMS outputs, TDO input; TMS idles high until the first scan.
constexpr std::uint8_t jtag_directions = 0x0B;
constexpr std::uint8_t jtag_idle_levels = 0x08;

constexpr std::uint8_t latency_timer_ms = 2;

// How reply bytes turn into captured bits.
struct ReplyPiece {
  enum Kind : std::uint8_t { bytes, top_bits, tms_last } kind;
  std::uint32_t count;  // bytes, or bits in the byte
};

struct Segment {
  std::size_t end = 0;        // end offset in the command bytes
  std::uint32_t replies = 0;  // reply bytes it produces
};

struct Reading {
  std::vector<ReplyPiece> pieces;
};

class MpsseLibrary final : public Library {
 public:
  explicit MpsseLibrary(Bus& bus) : bus_(bus) {}

  Status get_num_devices(std::uint32_t* count) override {
    return count_devices(Chip::ft2232c, count);
  }
  Status get_num_hispeed_devices(std::uint32_t* count) override {
    return count_devices(Chip::ft2232h, count);
  }

  Status get_device_name(std::uint32_t index, char* name, std::uint32_t size,
                         std::uint32_t* loc_id) override {
    const int at = nth_device(Chip::ft2232c, index);
    if (at < 0) return error_device_not_found;
    copy_name(devices_[static_cast<std::size_t>(at)].product, name, size);
    if (loc_id) *loc_id = static_cast<std::uint32_t>(at);
    return ok;
  }

  Status get_hispeed_device_name(std::uint32_t index, char* name, std::uint32_t size,
                                 std::uint32_t* loc_id, char* channel, std::uint32_t channel_size,
                                 std::uint32_t* device_type) override {
    const int at = nth_device(Chip::ft2232h, index);
    if (at < 0) return error_device_not_found;
    copy_name(devices_[static_cast<std::size_t>(at)].product, name, size);
    copy_name("A", channel, channel_size);
    if (loc_id) *loc_id = static_cast<std::uint32_t>(at);
    if (device_type) *device_type = 1;
    return ok;
  }

  Status open(const char* name, std::uint32_t loc_id, Handle* handle) override {
    return open_device(name, loc_id, handle);
  }
  Status open_hispeed(const char* name, std::uint32_t loc_id, const char*,
                      Handle* handle) override {
    return open_device(name, loc_id, handle);
  }

  Status close(Handle handle) override {
    if (!valid(handle)) return error_invalid_handle;
    channel_.reset();
    handle_ = 0;
    clear_queue();
    return ok;
  }

  Status init_device(Handle handle, std::uint32_t divisor) override {
    if (!valid(handle)) return error_invalid_handle;
    if (divisor > 0xFFFF) return error_not_supported;
    clear_queue();
    low_value_ = static_cast<std::uint8_t>((model_->initial_value & 0xF0) | jtag_idle_levels);
    low_dir_ = static_cast<std::uint8_t>((model_->initial_direction & 0xF0) | jtag_directions);
    high_value_ = static_cast<std::uint8_t>(model_->initial_value >> 8);
    high_dir_ = static_cast<std::uint8_t>(model_->initial_direction >> 8);
    std::vector<std::uint8_t> cmd = {op_bad, op_loopback_off};
    // The H chip's 60 MHz clock is divided by 5 as on the C, so one divisor means one frequency.
    if (model_->chip == Chip::ft2232h) cmd.push_back(op_divide_by_5_on);
    cmd.insert(cmd.end(),
               {op_divisor, static_cast<std::uint8_t>(divisor & 0xFF),
                static_cast<std::uint8_t>(divisor >> 8), op_set_low, low_value_, low_dir_,
                op_set_high, high_value_, high_dir_,
                // Five clocks with TMS high reach Test-Logic-Reset, one low Run-Test/Idle.
                op_tms_out, 5, 0x1F, op_send_immediate});
    std::uint8_t reply[2] = {};
    if (!channel_->write(cmd.data(), cmd.size()) || !channel_->read(reply, 2)) return error_io;
    // The bad command's answer proves the engine is in sync with the host.
    if (reply[0] != bad_command_reply || reply[1] != op_bad) return error_io;
    return ok;
  }

  Status set_gpios(Handle handle, bool set_low, const LowPins& low, bool set_high,
                   const HighPins& high) override {
    return set_pins(handle, set_low, low, set_high, high.pin, 4);
  }
  Status set_hispeed_gpios(Handle handle, bool set_low, const LowPins& low, bool set_high,
                           const HiSpeedHighPins& high) override {
    return set_pins(handle, set_low, low, set_high, high.pin, 8);
  }

  Status write(Handle handle, bool instruction, std::uint32_t bits, const std::uint8_t* data,
               std::uint32_t bytes, std::uint32_t end_state) override {
    if (!valid(handle)) return error_invalid_handle;
    if (!valid_scan(bits, data, bytes, end_state)) return error_not_supported;
    std::vector<std::uint8_t> cmd;
    build_scan(cmd, instruction, bits, data, nullptr);
    return channel_->write(cmd.data(), cmd.size()) ? ok : error_io;
  }

  Status add_write(Handle handle, bool instruction, std::uint32_t bits, const std::uint8_t* data,
                   std::uint32_t bytes, std::uint32_t end_state) override {
    if (!valid(handle)) return error_invalid_handle;
    if (!valid_scan(bits, data, bytes, end_state)) return error_not_supported;
    build_scan(queue_, instruction, bits, data, nullptr);
    segments_.back().end = queue_.size();
    return ok;
  }

  Status add_read(Handle handle, bool instruction, std::uint32_t bits,
                  std::uint32_t end_state) override {
    if (!valid(handle)) return error_invalid_handle;
    if (!valid_scan(bits, nullptr, 0, end_state)) return error_not_supported;
    return queue_read(instruction, bits, nullptr);
  }

  Status add_write_read(Handle handle, bool instruction, std::uint32_t bits,
                        const std::uint8_t* data, std::uint32_t bytes,
                        std::uint32_t end_state) override {
    if (!valid(handle)) return error_invalid_handle;
    if (!valid_scan(bits, data, bytes, end_state)) return error_not_supported;
    return queue_read(instruction, bits, data);
  }

  Status execute(Handle handle, std::uint8_t* read_buffer, std::uint32_t* bytes_read) override {
    if (bytes_read) *bytes_read = 0;
    if (!valid(handle)) return error_invalid_handle;
    std::vector<std::uint8_t> replies;
    std::size_t begin = 0;
    Status status = ok;
    for (const Segment& s : segments_) {
      if (s.end == begin) continue;
      std::vector<std::uint8_t> cmd(queue_.begin() + static_cast<std::ptrdiff_t>(begin),
                                    queue_.begin() + static_cast<std::ptrdiff_t>(s.end));
      begin = s.end;
      if (s.replies != 0) cmd.push_back(op_send_immediate);
      if (!channel_->write(cmd.data(), cmd.size())) {
        status = error_io;
        break;
      }
      if (s.replies == 0) continue;
      const std::size_t at = replies.size();
      replies.resize(at + s.replies);
      if (!channel_->read(replies.data() + at, s.replies)) {
        status = error_io;
        break;
      }
    }
    if (status == ok && read_buffer != nullptr) {
      const std::uint32_t n = assemble(replies, read_buffer);
      if (bytes_read) *bytes_read = n;
    }
    clear_queue();
    return status;
  }

 private:
  bool valid(Handle handle) const { return handle != 0 && handle == handle_ && channel_; }

  static bool valid_scan(std::uint32_t bits, const std::uint8_t* data, std::uint32_t bytes,
                         std::uint32_t end_state) {
    if (bits == 0 || end_state != end_in_run_test_idle) return false;
    return data == nullptr || bytes >= (bits + 7) / 8;
  }

  Status count_devices(Chip chip, std::uint32_t* count) {
    if (count == nullptr) return error_not_supported;
    *count = 0;
    UsbDevice found[16];
    char error[160] = {};
    const int n = bus_.find_devices(found, 16, error, sizeof error);
    if (n < 0) return error_io;
    devices_.assign(found, found + n);
    for (const auto& d : devices_)
      if (chip_of(d) == chip) ++*count;
    return ok;
  }

  static Chip chip_of(const UsbDevice& d) {
    return d.bcd_device >= 0x0700 ? Chip::ft2232h : Chip::ft2232c;
  }

  int nth_device(Chip chip, std::uint32_t index) const {
    std::uint32_t seen = 0;
    for (std::size_t i = 0; i < devices_.size(); ++i)
      if (chip_of(devices_[i]) == chip && seen++ == index) return static_cast<int>(i);
    return -1;
  }

  static void copy_name(const char* from, char* to, std::uint32_t size) {
    if (to == nullptr || size == 0) return;
    const std::size_t n = std::min<std::size_t>(std::strlen(from), size - 1);
    std::memcpy(to, from, n);
    to[n] = '\0';
  }

  Status open_device(const char* name, std::uint32_t loc_id, Handle* handle) {
    if (handle == nullptr || name == nullptr) return error_not_supported;
    *handle = 0;
    if (loc_id >= devices_.size() ||
        std::strncmp(devices_[loc_id].product, name, sizeof devices_[loc_id].product) != 0)
      return error_device_not_found;
    const UsbDevice& d = devices_[loc_id];
    // An unknown product string on a known VID:PID is taken for that family's adapter.
    model_ = find_adapter_model(d.vid, d.pid, d.product);
    for (const auto& m : adapter_models)
      if (model_ == nullptr && m.vid == d.vid && m.pid == d.pid && m.chip == chip_of(d))
        model_ = &m;
    if (model_ == nullptr) return error_device_not_found;
    char error[160] = {};
    channel_ = bus_.open(d, latency_timer_ms, error, sizeof error);
    if (!channel_) return error_io;
    clear_queue();
    handle_ = ++handles_issued_;
    *handle = handle_;
    return ok;
  }

  Status set_pins(Handle handle, bool set_low, const LowPins& low, bool set_high, const Pin* high,
                  int high_count) {
    if (!valid(handle)) return error_invalid_handle;
    std::vector<std::uint8_t> cmd;
    if (set_low) {
      std::uint8_t v = static_cast<std::uint8_t>(low_value_ & 0x0F);
      std::uint8_t d = static_cast<std::uint8_t>(low_dir_ & 0x0F);
      for (int i = 0; i < 4; ++i) {
        if (low.pin[i].output) d = static_cast<std::uint8_t>(d | (0x10 << i));
        if (low.pin[i].high) v = static_cast<std::uint8_t>(v | (0x10 << i));
      }
      low_value_ = v;
      low_dir_ = d;
      cmd.insert(cmd.end(), {op_set_low, v, d});
    }
    if (set_high) {
      std::uint8_t v = 0, d = 0;
      for (int i = 0; i < high_count; ++i) {
        if (high[i].output) d = static_cast<std::uint8_t>(d | (1 << i));
        if (high[i].high) v = static_cast<std::uint8_t>(v | (1 << i));
      }
      high_value_ = v;
      high_dir_ = d;
      cmd.insert(cmd.end(), {op_set_high, v, d});
    }
    if (cmd.empty()) return ok;
    return channel_->write(cmd.data(), cmd.size()) ? ok : error_io;
  }

  void clear_queue() {
    queue_.clear();
    segments_.assign(1, Segment{});
    readings_.clear();
  }

  // Reply bytes are counted per segment; a segment closes before it would hold too many.
  void note_reply(std::uint32_t bytes) {
    if (segments_.back().replies + bytes > max_segment_reply) {
      segments_.back().end = queue_.size();
      segments_.push_back({queue_.size(), 0});
    }
    segments_.back().replies += bytes;
  }

  Status queue_read(bool instruction, std::uint32_t bits, const std::uint8_t* data) {
    readings_.emplace_back();
    build_scan(queue_, instruction, bits, data, &readings_.back());
    segments_.back().end = queue_.size();
    return ok;
  }

  static int bit_of(const std::uint8_t* data, std::uint32_t i) {
    return data ? (data[i / 8] >> (i % 8)) & 1 : 0;
  }

  // One scan from Run-Test/Idle back to Run-Test/Idle: the TMS walk into Shift, all bits but the
  // last, then the last bit with TMS high followed by Update and Run-Test/Idle.
  void build_scan(std::vector<std::uint8_t>& out, bool instruction, std::uint32_t bits,
                  const std::uint8_t* data, Reading* reading) {
    const bool queued = &out == &queue_;
    if (instruction)
      out.insert(out.end(), {op_tms_out, 3, 0x03});  // Select-DR, Select-IR, Capture-IR, Shift-IR
    else
      out.insert(out.end(), {op_tms_out, 2, 0x01});  // Select-DR, Capture-DR, Shift-DR
    const std::uint32_t body = bits - 1;
    std::uint32_t full = body / 8;
    const std::uint32_t rest = body % 8;
    std::uint32_t at = 0;  // byte offset into data
    const std::uint32_t chunk_max = reading ? max_segment_reply : max_write_chunk;
    while (full > 0) {
      const std::uint32_t n = std::min(full, chunk_max);
      if (reading && queued) note_reply(n);
      if (reading) reading->pieces.push_back({ReplyPiece::bytes, n});
      out.insert(out.end(), {reading ? op_bytes_inout : op_bytes_out,
                             static_cast<std::uint8_t>((n - 1) & 0xFF),
                             static_cast<std::uint8_t>((n - 1) >> 8)});
      for (std::uint32_t i = 0; i < n; ++i) out.push_back(data ? data[at + i] : 0);
      at += n;
      full -= n;
    }
    if (rest > 0) {
      if (reading && queued) note_reply(1);
      if (reading) reading->pieces.push_back({ReplyPiece::top_bits, rest});
      out.insert(out.end(),
                 {reading ? op_bits_inout : op_bits_out, static_cast<std::uint8_t>(rest - 1),
                  static_cast<std::uint8_t>(data ? data[at] : 0)});
    }
    // Last bit with TMS high (Exit1), then Update (TMS high) and Run-Test/Idle (TMS low); TDI in
    // bit 7 is held for all three, only the first clock shifts it.
    if (reading && queued) note_reply(1);
    if (reading) reading->pieces.push_back({ReplyPiece::tms_last, 3});
    out.insert(out.end(), {reading ? op_tms_inout : op_tms_out, 2,
                           static_cast<std::uint8_t>(0x03 | (bit_of(data, body) << 7))});
  }

  // The captured bits of every reading in order, each starting on a byte boundary.
  std::uint32_t assemble(const std::vector<std::uint8_t>& replies, std::uint8_t* out) const {
    std::size_t r = 0;
    std::uint32_t out_bytes = 0;
    for (const Reading& reading : readings_) {
      std::uint32_t bit = 0;
      auto put = [&](int value) {
        const std::uint32_t byte = out_bytes + bit / 8;
        if (bit % 8 == 0) out[byte] = 0;
        if (value) out[byte] = static_cast<std::uint8_t>(out[byte] | (1u << (bit % 8)));
        ++bit;
      };
      for (const ReplyPiece& p : reading.pieces) {
        if (p.kind == ReplyPiece::bytes) {
          for (std::uint32_t i = 0; i < p.count && r < replies.size(); ++i, ++r)
            for (int b = 0; b < 8; ++b) put((replies[r] >> b) & 1);
        } else if (r < replies.size()) {
          // A bit read shifts in from the top: the first bit of k lands in bit 8 - k.
          const std::uint8_t v = replies[r++];
          const std::uint32_t k = p.count;
          const std::uint32_t take = p.kind == ReplyPiece::tms_last ? 1 : k;
          for (std::uint32_t b = 0; b < take; ++b) put((v >> (8 - k + b)) & 1);
        }
      }
      out_bytes += (bit + 7) / 8;
    }
    return out_bytes;
  }

  Bus& bus_;
  std::vector<UsbDevice> devices_;
  std::unique_ptr<Channel> channel_;
  const AdapterModel* model_ = nullptr;
  Handle handle_ = 0;
  Handle handles_issued_ = 0;
  std::uint8_t low_value_ = 0, low_dir_ = 0, high_value_ = 0, high_dir_ = 0;
  std::vector<std::uint8_t> queue_;
  std::vector<Segment> segments_ = {Segment{}};
  std::vector<Reading> readings_;
};

Bus* simulated = nullptr;
// The MPSSE library over the simulated bus; it goes with its bus (and closes what it had open).
std::unique_ptr<Library> simulated_lib;

}  // namespace

std::unique_ptr<Library> make_mpsse_library(Bus& bus) {
  return std::make_unique<MpsseLibrary>(bus);
}

void set_simulated_bus(Bus* bus) {
  if (bus == simulated) return;
  simulated_lib.reset();
  simulated = bus;
  if (bus != nullptr) simulated_lib = make_mpsse_library(*bus);
}
Bus* simulated_bus() {
  return simulated;
}

// The platform's own library (ftdi_posix.cpp, ftdi_win32.cpp).
Library* platform_library();
bool platform_library_available(std::string& reason);

Library* library() {
  if (simulated != nullptr) return simulated_lib.get();
  return platform_library();
}

bool library_available(std::string& reason) {
  if (simulated == nullptr) return platform_library_available(reason);
  UsbDevice found[4];
  char error[160] = {};
  const int n = simulated->find_devices(found, 4, error, sizeof error);
  if (n > 0) return true;
  reason = n < 0 ? error : "no supported USB JTAG adapter is connected";
  return false;
}

}  // namespace dz::ftdi
