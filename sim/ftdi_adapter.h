#pragma once
// A simulated FTDI-based USB JTAG adapter (FT2232C full speed or FT2232H high speed) on a
// simulated USB bus, its channel A in MPSSE mode wired to a simulated processor's JTAG pins.
//
// The MPSSE engine executes the byte stream the host sends as the chip does: the data shifting
// commands (bytes or bits, TDI out on the falling edge, TDO in on the rising edge, LSB first),
// TMS commands, the pin commands of the low (ADBUS) and high (ACBUS) bytes, the clock divisor,
// loopback, send-immediate, and on the H chip divide-by-5; any other opcode is answered with
// 0xFA and the opcode. Time is charged to the virtual clock: every TCK cycle at the current
// frequency (6 MHz / (1 + divisor), or 30 MHz / (1 + divisor) on an H chip with divide-by-5
// off), and half a USB round trip per transfer each way (1 ms round trip at full speed, 125 us at
// high speed); a reply read without send-immediate waits for the latency timer.
//
// The adapter's board: TCK = AD0, TDI = AD1, TDO = AD2, TMS = AD3. On the JTAGkeys AD4 low
// enables the JTAG output buffers. TRST is driven from AC0 through a buffer enabled by AC2 low
// (both adapters); SRST from AC1 through a buffer enabled by AC3 low (JTAGkey), or by AC1 high
// through an open-drain stage (Olimex). Undriven pins read high.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ftdi.h"
#include "sim/pxa.h"

namespace dz::sim {

class MpsseEngine {
 public:
  MpsseEngine(Pxa& cpu, const ftdi::AdapterModel& model);

  // Bytes from the host, executed as far as complete commands go (the rest waits for more).
  void receive(const std::uint8_t* data, std::size_t size);
  // Reply bytes waiting for the host.
  std::size_t replies_available() const { return replies_.size(); }
  // Takes `size` reply bytes; false (nothing taken) when fewer are waiting.
  bool take_replies(std::uint8_t* out, std::size_t size);
  // Whether a send-immediate came since the replies were last taken.
  bool send_immediate_seen() const { return immediate_; }
  // The MPSSE state after the host enters MPSSE mode.
  void enter_mpsse();

  // Picoseconds of TCK time spent since the last call.
  std::uint64_t take_tck_ps();

  std::uint8_t low_value() const { return low_value_; }
  std::uint8_t low_direction() const { return low_dir_; }
  std::uint8_t high_value() const { return high_value_; }
  std::uint8_t high_direction() const { return high_dir_; }
  std::uint32_t divisor() const { return divisor_; }
  bool divide_by_5() const { return div5_; }
  std::uint64_t tck_cycles() const { return tck_cycles_; }
  std::uint64_t bad_commands() const { return bad_commands_; }
  // TCK frequency in Hz now.
  std::uint32_t tck_hz() const;

 private:
  std::size_t command_length(const std::uint8_t* p, std::size_t avail) const;
  void execute(const std::uint8_t* p, std::size_t length);
  void shift_data(std::uint8_t op, const std::uint8_t* p);
  int clock(bool tms, bool tdi);
  void apply_pins();
  bool pin_level_high(int pin) const;  // 0..7 ADBUS, 8..15 ACBUS: driven level, else pulled up
  bool jtag_connected() const;

  Pxa& cpu_;
  const ftdi::AdapterModel& model_;
  bool olimex_;
  std::vector<std::uint8_t> pending_;
  std::vector<std::uint8_t> replies_;
  bool immediate_ = false;
  std::uint8_t low_value_ = 0, low_dir_ = 0, high_value_ = 0, high_dir_ = 0;
  std::uint32_t divisor_ = 0;
  bool div5_ = true;
  bool loopback_ = false;
  std::uint64_t tck_cycles_ = 0;
  std::uint64_t tck_ps_ = 0;
  std::uint64_t bad_commands_ = 0;
};

// A USB bus with one simulated adapter plugged in. Install it with
// ftdi::set_simulated_bus(&adapter), or hand it to the stand-in adapter library.
class FtdiAdapterSim final : public ftdi::Bus {
 public:
  FtdiAdapterSim(Pxa& cpu, const ftdi::AdapterModel& model);
  ~FtdiAdapterSim() override;

  int find_devices(ftdi::UsbDevice* out, int max, char* error, std::size_t error_size) override;
  std::unique_ptr<ftdi::Channel> open(const ftdi::UsbDevice& device, std::uint8_t latency_ms,
                                      char* error, std::size_t error_size) override;

  // Test knobs: the product string the adapter reports, how many identical adapters are
  // plugged in (0 = unplugged), and an open that the chip refuses.
  void set_product(const std::string& product) { product_ = product; }
  void set_plugged(int count) { plugged_ = count; }
  void set_refuse_open(bool refuse) { refuse_open_ = refuse; }

  void install();
  void uninstall();

  MpsseEngine& engine() { return engine_; }
  Pxa& cpu() { return cpu_; }
  const ftdi::AdapterModel& model() const { return model_; }
  bool high_speed() const { return model_.chip == ftdi::Chip::ft2232h; }
  // USB transfers and bytes, host to adapter and back.
  std::uint64_t transfers_out() const { return transfers_out_; }
  std::uint64_t transfers_in() const { return transfers_in_; }
  std::uint64_t bytes_out() const { return bytes_out_; }
  std::uint64_t opens() const { return opens_; }
  // Every byte sent to the adapter, kept while recording is on (tests of the wire stream).
  void set_recording(bool on) { recording_ = on; }
  std::vector<std::vector<std::uint8_t>>& recorded() { return recorded_; }

 private:
  friend class SimChannel;
  bool channel_write(const std::uint8_t* data, std::size_t size);
  bool channel_read(std::uint8_t* data, std::size_t size);
  void charge_ps(std::uint64_t ps);

  Pxa& cpu_;
  const ftdi::AdapterModel& model_;
  MpsseEngine engine_;
  std::string product_;
  int plugged_ = 1;
  bool refuse_open_ = false;
  bool installed_ = false;
  bool open_ = false;
  std::uint8_t latency_ms_ = 16;
  std::uint64_t transfers_out_ = 0, transfers_in_ = 0, bytes_out_ = 0, opens_ = 0;
  std::uint64_t remainder_ps_ = 0;
  bool recording_ = false;
  std::vector<std::vector<std::uint8_t>> recorded_;
};

}  // namespace dz::sim
