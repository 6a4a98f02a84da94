// A stand-in for FTDI's "FTCJTAG.dll" for the Windows tests: the library's entry points, carried
// out by this program's MPSSE library over a simulated adapter that the test program hands in
// through FTCJTAG_StandInAttach (the adapter and its processor live in the test program).
#include <windows.h>

#include <memory>

#include "platform/ftdi.h"

namespace {

std::unique_ptr<dz::ftdi::Library> lib;
constexpr DWORD no_device = 2;

struct FtcPins {
  BOOL pin[4][2];
};
struct FthPins {
  BOOL pin[8][2];
};

template <typename Pins>
void from_ftc(const Pins* in, dz::ftdi::Pin* out, int count) {
  for (int i = 0; i < count; ++i) {
    out[i].output = in && in->pin[i][0] ? 1 : 0;
    out[i].high = in && in->pin[i][1] ? 1 : 0;
  }
}

}  // namespace

#define EXPORT extern "C" __declspec(dllexport)

EXPORT void FTCJTAG_StandInAttach(dz::ftdi::Bus* bus) {
  lib = bus ? dz::ftdi::make_mpsse_library(*bus) : nullptr;
}

EXPORT DWORD WINAPI JTAG_GetNumDevices(LPDWORD count) {
  if (!lib) return no_device;
  std::uint32_t n = 0;
  const DWORD s = lib->get_num_devices(&n);
  *count = n;
  return s;
}

EXPORT DWORD WINAPI JTAG_GetNumHiSpeedDevices(LPDWORD count) {
  if (!lib) return no_device;
  std::uint32_t n = 0;
  const DWORD s = lib->get_num_hispeed_devices(&n);
  *count = n;
  return s;
}

EXPORT DWORD WINAPI JTAG_GetDeviceNameLocID(DWORD index, LPSTR name, DWORD size, LPDWORD loc) {
  if (!lib) return no_device;
  std::uint32_t l = 0;
  const DWORD s = lib->get_device_name(index, name, size, &l);
  *loc = l;
  return s;
}

EXPORT DWORD WINAPI JTAG_GetHiSpeedDeviceNameLocIDChannel(DWORD index, LPSTR name, DWORD size,
                                                          LPDWORD loc, LPSTR channel,
                                                          DWORD channel_size, LPDWORD type) {
  if (!lib) return no_device;
  std::uint32_t l = 0, t = 0;
  const DWORD s = lib->get_hispeed_device_name(index, name, size, &l, channel, channel_size, &t);
  *loc = l;
  *type = t;
  return s;
}

EXPORT DWORD WINAPI JTAG_OpenEx(LPSTR name, DWORD loc, DWORD* handle) {
  if (!lib) return no_device;
  dz::ftdi::Handle h = 0;
  const DWORD s = lib->open(name, loc, &h);
  *handle = static_cast<DWORD>(h);
  return s;
}

EXPORT DWORD WINAPI JTAG_OpenHiSpeedDevice(LPSTR name, DWORD loc, LPSTR channel, DWORD* handle) {
  if (!lib) return no_device;
  dz::ftdi::Handle h = 0;
  const DWORD s = lib->open_hispeed(name, loc, channel, &h);
  *handle = static_cast<DWORD>(h);
  return s;
}

EXPORT DWORD WINAPI JTAG_Close(DWORD handle) {
  return lib ? lib->close(handle) : no_device;
}

EXPORT DWORD WINAPI JTAG_InitDevice(DWORD handle, DWORD divisor) {
  return lib ? lib->init_device(handle, divisor) : no_device;
}

EXPORT DWORD WINAPI JTAG_SetGPIOs(DWORD handle, BOOL set_low, FtcPins* low, BOOL set_high,
                                  FtcPins* high) {
  if (!lib) return no_device;
  dz::ftdi::LowPins l;
  dz::ftdi::HighPins h;
  from_ftc(low, l.pin, 4);
  from_ftc(high, h.pin, 4);
  return lib->set_gpios(handle, set_low, l, set_high, h);
}

EXPORT DWORD WINAPI JTAG_SetHiSpeedDeviceGPIOs(DWORD handle, BOOL set_low, FtcPins* low,
                                               BOOL set_high, FthPins* high) {
  if (!lib) return no_device;
  dz::ftdi::LowPins l;
  dz::ftdi::HiSpeedHighPins h;
  from_ftc(low, l.pin, 4);
  from_ftc(high, h.pin, 8);
  return lib->set_hispeed_gpios(handle, set_low, l, set_high, h);
}

EXPORT DWORD WINAPI JTAG_Write(DWORD handle, BOOL instr, DWORD bits, BYTE* data, DWORD bytes,
                               DWORD state) {
  return lib ? lib->write(handle, instr, bits, data, bytes, state) : no_device;
}

EXPORT DWORD WINAPI JTAG_AddDeviceWriteCmd(DWORD handle, BOOL instr, DWORD bits, BYTE* data,
                                           DWORD bytes, DWORD state) {
  return lib ? lib->add_write(handle, instr, bits, data, bytes, state) : no_device;
}

EXPORT DWORD WINAPI JTAG_AddDeviceReadCmd(DWORD handle, BOOL instr, DWORD bits, DWORD state) {
  return lib ? lib->add_read(handle, instr, bits, state) : no_device;
}

EXPORT DWORD WINAPI JTAG_AddDeviceWriteReadCmd(DWORD handle, BOOL instr, DWORD bits, BYTE* data,
                                               DWORD bytes, DWORD state) {
  return lib ? lib->add_write_read(handle, instr, bits, data, bytes, state) : no_device;
}

EXPORT DWORD WINAPI JTAG_ExecuteCmdSequence(DWORD handle, BYTE* buffer, LPDWORD returned) {
  if (!lib) return no_device;
  std::uint32_t n = 0;
  const DWORD s = lib->execute(handle, buffer, &n);
  *returned = n;
  return s;
}
