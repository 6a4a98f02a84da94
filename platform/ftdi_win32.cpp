// USB adapters on Windows: FTDI's "FTCJTAG.dll", loaded at run time. Every operation is one call
// of the library's stdcall entry point; an entry point the library lacks fails the operation.
#include <windows.h>

#include <cstring>

#include "platform/ftdi.h"

namespace dz::ftdi {
namespace {

// FTC_INPUT_OUTPUT_PINS and FTH_INPUT_OUTPUT_PINS: BOOL direction then BOOL state, per pin.
struct FtcPins {
  BOOL pin[4][2];
};
struct FthPins {
  BOOL pin[8][2];
};

using FtcHandle = DWORD;  // FTC_HANDLE
using GetNum = DWORD(WINAPI*)(LPDWORD);
using GetName = DWORD(WINAPI*)(DWORD, LPSTR, DWORD, LPDWORD);
using GetHiName = DWORD(WINAPI*)(DWORD, LPSTR, DWORD, LPDWORD, LPSTR, DWORD, LPDWORD);
using OpenEx = DWORD(WINAPI*)(LPSTR, DWORD, FtcHandle*);
using OpenHi = DWORD(WINAPI*)(LPSTR, DWORD, LPSTR, FtcHandle*);
using CloseFn = DWORD(WINAPI*)(FtcHandle);
using InitFn = DWORD(WINAPI*)(FtcHandle, DWORD);
using SetGpios = DWORD(WINAPI*)(FtcHandle, BOOL, FtcPins*, BOOL, FtcPins*);
using SetHiGpios = DWORD(WINAPI*)(FtcHandle, BOOL, FtcPins*, BOOL, FthPins*);
using WriteFn = DWORD(WINAPI*)(FtcHandle, BOOL, DWORD, BYTE*, DWORD, DWORD);
using AddReadFn = DWORD(WINAPI*)(FtcHandle, BOOL, DWORD, DWORD);
using ExecuteFn = DWORD(WINAPI*)(FtcHandle, BYTE*, LPDWORD);

constexpr Status missing_entry = 0xFFFFFFFF;

template <typename F>
F entry(HMODULE dll, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

FtcPins to_ftc(const Pin* pins) {
  FtcPins out{};
  for (int i = 0; i < 4; ++i) {
    out.pin[i][0] = pins[i].output ? TRUE : FALSE;
    out.pin[i][1] = pins[i].high ? TRUE : FALSE;
  }
  return out;
}

class FtcjtagLibrary final : public Library {
 public:
  explicit FtcjtagLibrary(HMODULE dll)
      : num_(entry<GetNum>(dll, "JTAG_GetNumDevices")),
        num_hi_(entry<GetNum>(dll, "JTAG_GetNumHiSpeedDevices")),
        name_(entry<GetName>(dll, "JTAG_GetDeviceNameLocID")),
        name_hi_(entry<GetHiName>(dll, "JTAG_GetHiSpeedDeviceNameLocIDChannel")),
        open_(entry<OpenEx>(dll, "JTAG_OpenEx")),
        open_hi_(entry<OpenHi>(dll, "JTAG_OpenHiSpeedDevice")),
        close_(entry<CloseFn>(dll, "JTAG_Close")),
        init_(entry<InitFn>(dll, "JTAG_InitDevice")),
        gpios_(entry<SetGpios>(dll, "JTAG_SetGPIOs")),
        gpios_hi_(entry<SetHiGpios>(dll, "JTAG_SetHiSpeedDeviceGPIOs")),
        write_(entry<WriteFn>(dll, "JTAG_Write")),
        add_write_(entry<WriteFn>(dll, "JTAG_AddDeviceWriteCmd")),
        add_read_(entry<AddReadFn>(dll, "JTAG_AddDeviceReadCmd")),
        add_write_read_(entry<WriteFn>(dll, "JTAG_AddDeviceWriteReadCmd")),
        execute_(entry<ExecuteFn>(dll, "JTAG_ExecuteCmdSequence")) {}

  Status get_num_devices(std::uint32_t* count) override {
    DWORD n = 0;
    const Status s = num_ ? num_(&n) : missing_entry;
    if (count) *count = n;
    return s;
  }
  Status get_num_hispeed_devices(std::uint32_t* count) override {
    DWORD n = 0;
    const Status s = num_hi_ ? num_hi_(&n) : missing_entry;
    if (count) *count = n;
    return s;
  }
  Status get_device_name(std::uint32_t index, char* name, std::uint32_t size,
                         std::uint32_t* loc_id) override {
    DWORD loc = 0;
    const Status s = name_ ? name_(index, name, size, &loc) : missing_entry;
    if (loc_id) *loc_id = loc;
    return s;
  }
  Status get_hispeed_device_name(std::uint32_t index, char* name, std::uint32_t size,
                                 std::uint32_t* loc_id, char* channel, std::uint32_t channel_size,
                                 std::uint32_t* device_type) override {
    DWORD loc = 0, type = 0;
    const Status s =
        name_hi_ ? name_hi_(index, name, size, &loc, channel, channel_size, &type) : missing_entry;
    if (loc_id) *loc_id = loc;
    if (device_type) *device_type = type;
    return s;
  }
  Status open(const char* name, std::uint32_t loc_id, Handle* handle) override {
    char copy[128] = {};
    std::strncpy(copy, name, sizeof copy - 1);
    FtcHandle h = 0;
    const Status s = open_ ? open_(copy, loc_id, &h) : missing_entry;
    if (handle) *handle = h;
    return s;
  }
  Status open_hispeed(const char* name, std::uint32_t loc_id, const char* channel,
                      Handle* handle) override {
    char copy[128] = {}, chan[8] = {};
    std::strncpy(copy, name, sizeof copy - 1);
    std::strncpy(chan, channel, sizeof chan - 1);
    FtcHandle h = 0;
    const Status s = open_hi_ ? open_hi_(copy, loc_id, chan, &h) : missing_entry;
    if (handle) *handle = h;
    return s;
  }
  Status close(Handle handle) override {
    return close_ ? close_(static_cast<FtcHandle>(handle)) : missing_entry;
  }
  Status init_device(Handle handle, std::uint32_t divisor) override {
    return init_ ? init_(static_cast<FtcHandle>(handle), divisor) : missing_entry;
  }
  Status set_gpios(Handle handle, bool set_low, const LowPins& low, bool set_high,
                   const HighPins& high) override {
    FtcPins l = to_ftc(low.pin), h = to_ftc(high.pin);
    return gpios_ ? gpios_(static_cast<FtcHandle>(handle), set_low, &l, set_high, &h)
                  : missing_entry;
  }
  Status set_hispeed_gpios(Handle handle, bool set_low, const LowPins& low, bool set_high,
                           const HiSpeedHighPins& high) override {
    FtcPins l = to_ftc(low.pin);
    FthPins h{};
    for (int i = 0; i < 8; ++i) {
      h.pin[i][0] = high.pin[i].output ? TRUE : FALSE;
      h.pin[i][1] = high.pin[i].high ? TRUE : FALSE;
    }
    return gpios_hi_ ? gpios_hi_(static_cast<FtcHandle>(handle), set_low, &l, set_high, &h)
                     : missing_entry;
  }
  Status write(Handle handle, bool instruction, std::uint32_t bits, const std::uint8_t* data,
               std::uint32_t bytes, std::uint32_t end_state) override {
    return scan(write_, handle, instruction, bits, data, bytes, end_state);
  }
  Status add_write(Handle handle, bool instruction, std::uint32_t bits, const std::uint8_t* data,
                   std::uint32_t bytes, std::uint32_t end_state) override {
    return scan(add_write_, handle, instruction, bits, data, bytes, end_state);
  }
  Status add_read(Handle handle, bool instruction, std::uint32_t bits,
                  std::uint32_t end_state) override {
    return add_read_ ? add_read_(static_cast<FtcHandle>(handle), instruction, bits, end_state)
                     : missing_entry;
  }
  Status add_write_read(Handle handle, bool instruction, std::uint32_t bits,
                        const std::uint8_t* data, std::uint32_t bytes,
                        std::uint32_t end_state) override {
    return scan(add_write_read_, handle, instruction, bits, data, bytes, end_state);
  }
  Status execute(Handle handle, std::uint8_t* read_buffer, std::uint32_t* bytes_read) override {
    DWORD n = 0;
    const Status s =
        execute_ ? execute_(static_cast<FtcHandle>(handle), read_buffer, &n) : missing_entry;
    if (bytes_read) *bytes_read = n;
    return s;
  }

 private:
  // The library takes the data through a non-const pointer.
  static Status scan(WriteFn fn, Handle handle, bool instruction, std::uint32_t bits,
                     const std::uint8_t* data, std::uint32_t bytes, std::uint32_t end_state) {
    if (!fn) return missing_entry;
    return fn(static_cast<FtcHandle>(handle), instruction, bits, const_cast<BYTE*>(data), bytes,
              end_state);
  }

  GetNum num_, num_hi_;
  GetName name_;
  GetHiName name_hi_;
  OpenEx open_;
  OpenHi open_hi_;
  CloseFn close_;
  InitFn init_;
  SetGpios gpios_;
  SetHiGpios gpios_hi_;
  WriteFn write_, add_write_;
  AddReadFn add_read_;
  WriteFn add_write_read_;
  ExecuteFn execute_;
};

// The library stays loaded once it has been found.
HMODULE loaded_dll() {
  static HMODULE dll = nullptr;
  if (dll == nullptr) dll = LoadLibraryA("FTCJTAG.dll");
  return dll;
}

}  // namespace

Bus* system_bus() {
  return nullptr;
}

Library* platform_library() {
  static std::unique_ptr<Library> lib;
  if (!lib) {
    HMODULE dll = loaded_dll();
    if (dll == nullptr) return nullptr;
    lib = std::make_unique<FtcjtagLibrary>(dll);
  }
  return lib.get();
}

bool platform_library_available(std::string& reason) {
  if (loaded_dll() != nullptr) return true;
  reason = "FTCJTAG.dll cannot be loaded";
  return false;
}

void* library_entry(const char* name) {
  HMODULE dll = loaded_dll();
  return dll ? reinterpret_cast<void*>(GetProcAddress(dll, name)) : nullptr;
}

const char* usb_access_hint() {
  return "install the adapter's FTDI driver and FTCJTAG.dll";
}

}  // namespace dz::ftdi
