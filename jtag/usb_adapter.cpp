// The USB branch of the cable layer: FTDI-based adapters through the adapter library.
#include "jtag/usb_adapter.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "jtag/cable.h"
#include "platform/debug.h"
#include "platform/ui.h"

namespace dz {

ftdi::Handle usb_handle = 0;
int usb_hispeed = 0;
char usb_device_name[128] = "";
std::uint32_t usb_pending_bits = 0;

namespace {

constexpr const char* text_no_adapter =
    "No compatible USB JTAG Adapter Found. Check USB Cable Connection.";
constexpr const char* text_too_many = "More than one USB JTAG Adapters Found.";
constexpr const char* text_init_failed =
    "Error during USB JTAG Adapter Init. Restart DividezUrirer.";
constexpr std::uint32_t close_divisor = 4;  // 1.2 MHz

// Byte buffers reused by every scan (one thread at a time uses the cable layer).
std::vector<std::uint8_t> out_bytes;
std::vector<std::uint8_t> in_bytes;

void error_box(int report, const char* text) {
  if (report) ui::message_box(ui::no_window, text, "ERROR", ui::MB_OK);
}

std::uint32_t byte_count(std::uint32_t bits) {
  return (bits + 7) / 8;
}

// Runs the queued write-only scans (nothing is read).
void execute_pending() {
  if (usb_pending_bits == 0) return;
  ftdi::Library* lib = ftdi::library();
  if (lib != nullptr) {
    std::uint8_t scratch[16];
    std::uint32_t n = 0;
    lib->execute(usb_handle, scratch, &n);
  }
  usb_pending_bits = 0;
}

const std::uint8_t* words_to_bytes(const std::uint32_t* words, std::uint32_t bits) {
  if (words == nullptr) return nullptr;
  const std::uint32_t n = byte_count(bits);
  out_bytes.resize(n);
  for (std::uint32_t i = 0; i < n; ++i)
    out_bytes[i] = static_cast<std::uint8_t>(words[i / 4] >> (8 * (i % 4)));
  return out_bytes.data();
}

}  // namespace

int usb_library_available() {
  std::string reason;
  if (ftdi::library_available(reason)) return 1;
  debug_info("USB adapter library not usable: %s", reason.c_str());
  return 0;
}

int usb_open(int report) {
  ftdi::Library* lib = ftdi::library();
  std::uint32_t full = 0, high = 0;
  ftdi::Status count_status = 1;
  if (lib != nullptr) {
    count_status = lib->get_num_devices(&full);
    count_status |= lib->get_num_hispeed_devices(&high);
  }
  if (count_status != ftdi::ok || full + high == 0) {
    error_box(report, full + high > 2 ? text_too_many : text_no_adapter);
    usb_handle = 0;
    return 0;
  }
  usb_handle = 0;
  usb_pending_bits = 0;
  usb_hispeed = high > 0 ? 1 : 0;
  std::memset(usb_device_name, 0, sizeof usb_device_name);
  std::uint32_t loc_id = 0;
  ftdi::Status status = ftdi::ok;
  if (usb_hispeed) {
    // The high-speed name and open statuses are not examined: a failed open leaves the handle 0,
    // which the initialisation below refuses.
    char channel[5] = {};
    std::uint32_t device_type = 0;
    lib->get_hispeed_device_name(0, usb_device_name, 100, &loc_id, channel, sizeof channel,
                                 &device_type);
    lib->open_hispeed(usb_device_name, loc_id, channel, &usb_handle);
  } else {
    status |= lib->get_device_name(0, usb_device_name, 50, &loc_id);
    if (status == ftdi::ok) status |= lib->open(usb_device_name, loc_id, &usb_handle);
  }
  usb_device_name[sizeof usb_device_name - 1] = '\0';
  for (char& c : usb_device_name)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (std::strstr(usb_device_name, "OLIMEX"))
    jtag_interface = adapter_number(AdapterKind::usb_olimex);
  if (std::strstr(usb_device_name, "AMONTEC"))
    jtag_interface = adapter_number(AdapterKind::usb_amontec);
  if (status == ftdi::ok) status |= lib->init_device(usb_handle, jtag_clock_divisor(jtag_speed_hz));
  if (status == ftdi::ok) return 1;
  error_box(report, text_init_failed);
  if (usb_handle != 0) lib->close(usb_handle);
  usb_handle = 0;
  return 0;
}

int usb_close() {
  ftdi::Library* lib = ftdi::library();
  if (usb_handle != 0 && lib != nullptr) {
    // Queued writes are carried out before the adapter is re-initialised, not dropped.
    execute_pending();
    lib->init_device(usb_handle, close_divisor);
    lib->close(usb_handle);
  }
  usb_pending_bits = 0;
  return 1;
}

void usb_load_ir(std::uint32_t value) {
  ftdi::Library* lib = ftdi::library();
  if (lib == nullptr) return;
  execute_pending();
  const std::uint32_t bits = jtag_ir_length;
  if (bits == 0) return;  // no way out of Shift-IR without a bit
  out_bytes.assign(byte_count(bits), 0);
  for (std::uint32_t i = 0; i < 4 && i < out_bytes.size(); ++i)
    out_bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  lib->write(usb_handle, true, bits, out_bytes.data(), byte_count(bits),
             ftdi::end_in_run_test_idle);
}

void usb_scan_dr(const std::uint32_t* tdi_words, std::uint32_t* tdo_words,
                 std::uint32_t bit_count) {
  ftdi::Library* lib = ftdi::library();
  if (lib == nullptr || bit_count == 0) return;
  if (usb_pending_bits + static_cast<std::uint64_t>(bit_count) > usb_flush_limit) execute_pending();
  usb_pending_bits += bit_count;
  const std::uint32_t bytes = byte_count(bit_count);
  const std::uint8_t* data = words_to_bytes(tdi_words, bit_count);
  if (tdo_words == nullptr) {
    lib->add_write(usb_handle, false, bit_count, data, bytes, ftdi::end_in_run_test_idle);
    return;
  }
  if (data != nullptr)
    lib->add_write_read(usb_handle, false, bit_count, data, bytes, ftdi::end_in_run_test_idle);
  else
    lib->add_read(usb_handle, false, bit_count, ftdi::end_in_run_test_idle);
  // Room for what the queue returns; only this scan reads.
  in_bytes.assign(bytes + 8, 0);
  std::uint32_t returned = 0;
  lib->execute(usb_handle, in_bytes.data(), &returned);
  usb_pending_bits = 0;
  // The captured bits, byte after byte, into the word layout; bits above the last are 0.
  const std::uint32_t words = (bit_count + 31) / 32;
  for (std::uint32_t w = 0; w < words; ++w) {
    std::uint32_t v = 0;
    for (std::uint32_t b = 0; b < 4 && w * 4 + b < bytes; ++b)
      v |= static_cast<std::uint32_t>(in_bytes[w * 4 + b]) << (8 * b);
    const std::uint32_t valid = bit_count - w * 32;
    if (valid < 32) v &= (1u << valid) - 1;
    tdo_words[w] = v;
  }
}

UsbResetPins usb_reset_pins(std::uint32_t kind, int trst, int srst) {
  UsbResetPins p{};
  const ftdi::Pin in{0, 0}, out_low{1, 0}, out_high{1, 1};
  auto level = [](int high) { return ftdi::Pin{1, high ? 1u : 0u}; };
  p.low.pin[0] = out_low;
  for (int i = 1; i < 4; ++i) p.low.pin[i] = in;
  if (kind == adapter_number(AdapterKind::usb_olimex)) {
    p.high.pin[0] = in;
    p.high.pin[1] = level(srst);
    p.high.pin[2] = out_low;
    p.high.pin[3] = out_high;
  } else {
    p.high.pin[0] = out_low;
    p.high.pin[1] = out_low;
    p.high.pin[2] = level(!trst);
    p.high.pin[3] = level(!srst);
  }
  for (int i = 4; i < 8; ++i) p.high.pin[i] = in;
  return p;
}

void usb_set_reset_lines(int trst, int srst) {
  ftdi::Library* lib = ftdi::library();
  if (lib == nullptr) return;
  // Pins change at once; queued scans go first so the wire keeps the order of the calls.
  execute_pending();
  const UsbResetPins p = usb_reset_pins(jtag_interface, trst, srst);
  if (usb_hispeed) {
    lib->set_hispeed_gpios(usb_handle, true, p.low, true, p.high);
  } else {
    ftdi::HighPins high{};
    for (int i = 0; i < 4; ++i) high.pin[i] = p.high.pin[i];
    lib->set_gpios(usb_handle, true, p.low, true, high);
  }
}

int usb_init_device(std::uint32_t divisor) {
  ftdi::Library* lib = ftdi::library();
  if (lib == nullptr) return 0;
  execute_pending();
  return lib->init_device(usb_handle, divisor) == ftdi::ok ? 1 : 0;
}

int usb_reset() {
  return usb_init_device(jtag_clock_divisor(jtag_speed_hz));
}

std::uint32_t jtag_clock_divisor(std::uint32_t speed_hz) {
  if (speed_hz == 0) return 2;
  const std::uint32_t divisor = 6000000u / speed_hz - 1u;  // wraps above 6 MHz, caught below
  return divisor > 0xFFFF ? 2 : divisor;
}

}  // namespace dz
