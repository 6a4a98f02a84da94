#pragma once
// Byte-wide access to the parallel port's three registers (data at the base address, status at
// base + 1, control at base + 2). Every access goes to one backend object:
//   - the hardware: direct port instructions after the GIVEIO driver granted them (Windows), or
//     the kernel's parallel-port device /dev/parportN through ppdev (Linux);
//   - a remote_bitbang client ("remote:HOST:PORT"): the cable's pin writes become OpenOCD
//     remote_bitbang requests over TCP, status reads become 'R';
//   - an in-process backend installed by a simulated module (sim::ParallelPortSim).
// Accesses take effect in program order; a backend may hold writes back until the next read or
// flush (the remote client does, to batch them into one TCP send).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dz::port_io {

// One parallel port as the cable layer sees it. `address` is the full I/O address.
class Backend {
 public:
  virtual ~Backend() = default;
  virtual void write(std::uint16_t address, std::uint8_t value) = 0;
  virtual std::uint8_t read(std::uint16_t address) = 0;
  // Sends writes held back by the backend.
  virtual void flush() {}
  // A backend behind a link with a round trip per answer (remote_bitbang) batches reads: the
  // cable layer then queues a scan's reads with read_later() in program order, between its
  // writes, and takes all their values with take_reads() after the scan's last access. Other
  // backends read at once; their defaults below do just that.
  virtual bool batches_reads() const { return false; }
  virtual void read_later(std::uint16_t address) { later_.push_back(read(address)); }
  // The values of the `count` oldest queued reads, in order, into `values`.
  virtual void take_reads(std::uint8_t* values, std::size_t count);
  // A backend that models the cable and the chip behind it (a simulated module) may take a data
  // scan's payload at once, with the effect of the accesses the cable layer would otherwise make
  // bit by bit at `address`: for payload bit i, the data byte low[tms][tdi] (TMS set on the last
  // bit only, TDI = bit i of `tdi_words`, absent = 0), a status read when the bit is sampled
  // (every bit when `sample_all`, else those set in `sample_words`, none when that is null),
  // then the same byte with `tck` set. The sampled status values go to `statuses` in order.
  // False when the backend cannot; nothing was done then.
  virtual bool shift_payload(std::uint16_t address, const std::uint8_t (&low)[2][2],
                             std::uint8_t tck, const std::uint32_t* tdi_words,
                             std::uint32_t bit_count, bool sample_all,
                             const std::uint32_t* sample_words, std::uint8_t* statuses) {
    (void)address, (void)low, (void)tck, (void)tdi_words, (void)bit_count, (void)sample_all;
    (void)sample_words, (void)statuses;
    return false;
  }
  // The cable layer opens the port at `base` for cable `kind`, a number this layer only passes
  // on (an in-process model of a cable may follow it).
  virtual void opened(std::uint16_t base, std::uint32_t kind) {
    (void)base;
    (void)kind;
  }

 private:
  std::vector<std::uint8_t> later_;
};

// The cable wiring a backend needs when it translates register accesses into pin levels (the
// remote_bitbang client), given by the cable layer, which knows the cables. Bits of the data
// register, and the status bit that carries TDO; all zero when no parallel cable is selected.
struct CableWiring {
  std::uint8_t tck = 0, tms = 0, tdi = 0;
  std::uint8_t trst_n = 0;      // data bit carrying NOT TRST (0 = the cable has none)
  std::uint8_t srst = 0;        // data bit carrying SRST (0 = none)
  std::uint8_t tdo_status = 0;  // status bit carrying TDO
  bool tdo_inverted = false;    // the status bit reads NOT TDO
};

// --- the hot path -------------------------------------------------------------------------------

namespace detail {
extern Backend* current;  // never null: a null port when nothing is open
}
inline void port_write_byte(std::uint16_t address, std::uint8_t value) {
  detail::current->write(address, value);
}
inline std::uint8_t port_read_byte(std::uint16_t address) {
  return detail::current->read(address);
}
inline void port_flush() {
  detail::current->flush();
}
inline bool port_shift_payload(std::uint16_t address, const std::uint8_t (&low)[2][2],
                               std::uint8_t tck, const std::uint32_t* tdi_words,
                               std::uint32_t bit_count, bool sample_all,
                               const std::uint32_t* sample_words, std::uint8_t* statuses) {
  return detail::current->shift_payload(address, low, tck, tdi_words, bit_count, sample_all,
                                        sample_words, statuses);
}
inline bool port_batches_reads() {
  return detail::current->batches_reads();
}
inline void port_read_later(std::uint16_t address) {
  detail::current->read_later(address);
}
inline void port_take_reads(std::uint8_t* values, std::size_t count) {
  detail::current->take_reads(values, count);
}

// --- choosing and opening the port --------------------------------------------------------------

// The port named by the setting "ParallelPort": "/dev/parport0", "0x378", "remote:HOST:PORT".
// Empty means the platform's first parallel port (default_port_name()).
void set_port_name(std::string name);
std::string port_name();
std::string default_port_name();
// A port given for this run only (command line --port); empty = none. Not saved.
void set_port_override(std::string name);
std::string port_override();
// The name acquire() will use: the override, else the setting, else the default.
std::string effective_port_name();

// A backend installed by a simulated module. While one is installed, acquire() uses it whatever
// the port name says. Pass nullptr to remove it. The caller keeps it alive while installed.
void set_simulated_port(Backend* backend);
Backend* simulated_port();

// Obtains access to the port at `base` for the cable of `kind` wired as `wiring`, and makes it
// current. False when access cannot be had; `reason` then says why in the operating system's
// words.
bool acquire(std::uint16_t base, std::uint32_t kind, const CableWiring& wiring,
             std::string& reason);
// Flushes and closes the current backend; accesses then go to the null port.
void release();
// True between a successful acquire and release.
bool acquired();

// Makes `backend` current without any opening steps (benchmarks and tests); nullptr restores the
// null port. The caller keeps it alive while current.
void use_backend(Backend* backend);

// Backends a caller may build directly. Each returns nullptr and fills `reason` on failure.
std::unique_ptr<Backend> open_remote_bitbang(std::string_view host, std::uint16_t tcp_port,
                                             const CableWiring& wiring, std::string& reason);
// The platform's own port (ppdev device path on Linux, I/O base address on Windows).
std::unique_ptr<Backend> open_hardware_port(const std::string& name, std::uint16_t base,
                                            std::string& reason);
// A port that ignores writes and reads every register as 0xFF.
std::unique_ptr<Backend> make_null_port();

// Splits "remote:HOST:PORT"; false when `name` is not of that form or the port is not 1..65535.
bool parse_remote_name(std::string_view name, std::string& host, std::uint16_t& tcp_port);
// True when `name` asks for a remote_bitbang server ("remote:..."), well formed or not: such a
// port is reached over TCP and never through the machine's own port or its driver.
bool is_remote_name(std::string_view name);

// --- the Windows port driver (GIVEIO); on other systems these return 1 without doing anything --

// Creates and starts the kernel-driver service, then opens its device "\\.\<service_name>".
// 1 when the device could be opened.
int port_driver_install(const char* service_name, const char* driver_path);
// Stops and deletes the service; always 1.
int port_driver_remove(const char* service_name);

}  // namespace dz::port_io
