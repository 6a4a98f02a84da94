#pragma once
// FTDI-based USB JTAG adapters, behind the operations of FTDI's JTAG library (count, name, open,
// initialise with a clock divisor, general-purpose pins, immediate instruction writes, a queue of
// data-register commands executed in one go, close). Two implementations:
//   - Windows: FTDI's "FTCJTAG.dll", loaded at run time;
//   - everywhere: the chip's MPSSE engine driven directly through a USB bus (libftdi on Linux),
//     or through a simulated adapter installed by the simulator (the transport seam below).
// Statuses are 0 for success. Bit strings are packed least significant bit first.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace dz::ftdi {

using Status = std::uint32_t;
using Handle = std::uintptr_t;  // 0 = none

inline constexpr Status ok = 0;
inline constexpr Status error_device_not_found = 2;
inline constexpr Status error_io = 4;
inline constexpr Status error_invalid_handle = 1;
inline constexpr Status error_not_supported = 17;

// The library's code for ending a scan in Run-Test/Idle.
inline constexpr std::uint32_t end_in_run_test_idle = 2;

// One general-purpose pin as the library takes it: two 32-bit booleans.
struct Pin {
  std::uint32_t output = 0;  // 1 = driven
  std::uint32_t high = 0;    // level when driven
};
// Low group: ADBUS4..7. High group: ACBUS0..3 (full-speed) or ACBUS0..7 (high-speed).
struct LowPins {
  Pin pin[4];
};
struct HighPins {
  Pin pin[4];
};
struct HiSpeedHighPins {
  Pin pin[8];
};

// The JTAG library's operations, one virtual call per library function used.
class Library {
 public:
  virtual ~Library() = default;
  virtual Status get_num_devices(std::uint32_t* count) = 0;
  virtual Status get_num_hispeed_devices(std::uint32_t* count) = 0;
  virtual Status get_device_name(std::uint32_t index, char* name, std::uint32_t size,
                                 std::uint32_t* loc_id) = 0;
  virtual Status get_hispeed_device_name(std::uint32_t index, char* name, std::uint32_t size,
                                         std::uint32_t* loc_id, char* channel,
                                         std::uint32_t channel_size,
                                         std::uint32_t* device_type) = 0;
  virtual Status open(const char* name, std::uint32_t loc_id, Handle* handle) = 0;
  virtual Status open_hispeed(const char* name, std::uint32_t loc_id, const char* channel,
                              Handle* handle) = 0;
  virtual Status close(Handle handle) = 0;
  // TCK = 6 MHz / (divisor + 1); afterwards the TAP rests in Run-Test/Idle.
  virtual Status init_device(Handle handle, std::uint32_t divisor) = 0;
  virtual Status set_gpios(Handle handle, bool set_low, const LowPins& low, bool set_high,
                           const HighPins& high) = 0;
  virtual Status set_hispeed_gpios(Handle handle, bool set_low, const LowPins& low, bool set_high,
                                   const HiSpeedHighPins& high) = 0;
  // Instruction (true) or data register scan of `bits` bits, carried out at once.
  virtual Status write(Handle handle, bool instruction, std::uint32_t bits,
                       const std::uint8_t* data, std::uint32_t bytes, std::uint32_t end_state) = 0;
  // Queued scans, carried out in order by execute().
  virtual Status add_write(Handle handle, bool instruction, std::uint32_t bits,
                           const std::uint8_t* data, std::uint32_t bytes,
                           std::uint32_t end_state) = 0;
  virtual Status add_read(Handle handle, bool instruction, std::uint32_t bits,
                          std::uint32_t end_state) = 0;
  virtual Status add_write_read(Handle handle, bool instruction, std::uint32_t bits,
                                const std::uint8_t* data, std::uint32_t bytes,
                                std::uint32_t end_state) = 0;
  // Runs the queue; the bits of the reading commands are packed into `read_buffer` (each
  // command's bits starting on a byte boundary) and `*bytes_read` says how many bytes that is.
  virtual Status execute(Handle handle, std::uint8_t* read_buffer, std::uint32_t* bytes_read) = 0;
};

// --- the adapters
// ---------------------------------------------------------------------------------

enum class Chip : std::uint8_t { ft2232c, ft2232h };

// A supported adapter: USB identity and the initial levels and directions of its pins
// (ACBUS in the high byte, ADBUS in the low byte).
struct AdapterModel {
  const char* key;  // short name for the simulator's options
  std::uint16_t vid, pid;
  const char* product;  // USB product string
  Chip chip;
  std::uint16_t initial_value, initial_direction;
};
inline constexpr AdapterModel adapter_models[] = {
    {"olimex-arm-usb-ocd", 0x15ba, 0x0003, "Olimex OpenOCD JTAG", Chip::ft2232c, 0x0c08, 0x0f1b},
    {"olimex-arm-usb-ocd-h", 0x15ba, 0x002b, "Olimex OpenOCD JTAG ARM-USB-OCD-H", Chip::ft2232h,
     0x0908, 0x0b1b},
    {"jtagkey", 0x0403, 0xcff8, "Amontec JTAGkey", Chip::ft2232c, 0x0c08, 0x0f1b},
    {"jtagkey-2", 0x0403, 0xcff8, "Amontec JTAGkey-2", Chip::ft2232h, 0x0c08, 0x0f1b},
    {"jtagkey-2p", 0x0403, 0xcff8, "Amontec JTAGkey-2P", Chip::ft2232h, 0x0c08, 0x0f1b},
};
// The model of a device by VID:PID and product string; nullptr when it is none of ours.
const AdapterModel* find_adapter_model(std::uint16_t vid, std::uint16_t pid, const char* product);
const AdapterModel* find_adapter_model(const std::string& key);

// --- the transport seam beneath the MPSSE implementation -----------------------------------------

// A USB device as the bus lists it. Plain arrays: the record crosses module boundaries.
struct UsbDevice {
  std::uint16_t vid = 0, pid = 0;
  std::uint16_t bcd_device = 0;  // 0x0500 FT2232C/D, 0x0700 FT2232H
  char product[64] = {};
  char serial[32] = {};
};

// Channel A of an opened FTDI chip, already in MPSSE mode.
class Channel {
 public:
  virtual ~Channel() = default;
  // One USB transfer to the chip; false on failure.
  virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
  // Exactly `size` reply bytes (as many transfers as it takes); false on time-out or failure.
  virtual bool read(std::uint8_t* data, std::size_t size) = 0;
};

// The USB devices reachable: the machine's (libftdi) or a simulated adapter.
class Bus {
 public:
  virtual ~Bus() = default;
  // The supported adapters present, at most `max`; returns how many. -1 when the bus itself
  // cannot be used (the reason in `error`, at most `error_size` bytes).
  virtual int find_devices(UsbDevice* out, int max, char* error, std::size_t error_size) = 0;
  // Opens channel A of `device` in MPSSE mode with the latency timer at `latency_ms`.
  virtual std::unique_ptr<Channel> open(const UsbDevice& device, std::uint8_t latency_ms,
                                        char* error, std::size_t error_size) = 0;
};

// The library built on the MPSSE engine over `bus` (kept alive by the caller).
std::unique_ptr<Library> make_mpsse_library(Bus& bus);

// A bus installed by the simulator. While one is installed, library() is the MPSSE library over
// it whatever the platform. The caller keeps it alive while installed; nullptr removes it.
void set_simulated_bus(Bus* bus);
Bus* simulated_bus();

// The machine's USB bus through libftdi (Linux); nullptr where there is none.
Bus* system_bus();

// The library in use: the simulated bus's, else the platform's (Windows: "FTCJTAG.dll"; Linux:
// libftdi). nullptr when it cannot be loaded.
Library* library();
// True when library() can be had and, where the platform grants USB access per device (Linux,
// and the simulated bus), a supported adapter is connected and can be opened. `reason` says why
// not.
bool library_available(std::string& reason);

// An entry point of the loaded adapter library by name (Windows; nullptr elsewhere or when
// absent). The stand-in library of the Windows tests takes its simulated adapter through one.
void* library_entry(const char* name);

// How to grant USB access to the adapters (Linux: the udev rule shipped with the program).
const char* usb_access_hint();

}  // namespace dz::ftdi
