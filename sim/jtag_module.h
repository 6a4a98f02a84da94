#pragma once
// A complete simulated JTAG module: a processor with its flash on the bus and a parallel port
// with a JTAG cable, ready to be installed as the program's port. Its flash contents can be
// saved to and loaded from a file: the raw contents in flash-offset order (StrataFlash: chip
// select 0, then the second chip select; NAND: each page's data followed by its spare bytes,
// chip select 0 then 1; two chips side by side interleave their bytes as on the bus).
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sim/nand_flash.h"
#include "sim/parallel_port.h"
#include "sim/pxa.h"
#include "sim/strata_flash.h"

namespace dz::sim {

class JtagModule {
 public:
  explicit JtagModule(CpuModel cpu);
  ~JtagModule();
  JtagModule(const JtagModule&) = delete;
  JtagModule& operator=(const JtagModule&) = delete;

  Pxa& cpu() { return cpu_; }
  ParallelPortSim& port() { return port_; }

  // StrataFlash bank on chip-select line `chip_select` (1 chip: 16-bit, 2 chips: 32-bit).
  StrataBank& add_strata(const StrataChipType& type, std::uint32_t chips,
                         std::uint32_t chip_select);
  // The NAND chips (created on first use and attached).
  NandArray& nand();
  std::vector<StrataBank*> strata_banks();  // ordered by chip select

  // Flash contents in flash-offset order, and loading them back (false on a size mismatch).
  std::uint64_t flash_image_size() const;
  std::vector<std::uint8_t> flash_image() const;
  bool load_flash_image(std::span<const std::uint8_t> image);

  // Makes the simulated port the program's port (and removes it on destruction).
  void install();
  void uninstall();

 private:
  Pxa cpu_;
  ParallelPortSim port_;
  std::vector<std::unique_ptr<StrataBank>> strata_;
  std::unique_ptr<NandArray> nand_;
  bool installed_ = false;
};

// One kind of simulated module: its processor and the flash on its bus. Unused bank and chip
// slots have no type.
struct JtagModuleKind {
  struct Bank {
    const StrataChipType* type;
    std::uint32_t chips;        // 1: 16-bit bus, 2: 32-bit bus
    std::uint32_t chip_select;  // the processor's nCS line
  };
  struct Nand {
    const NandChipType* type;
    std::uint32_t cs;    // NAND chip select
    std::uint32_t lane;  // byte lane
  };
  const char* name;
  const char* description;
  CpuModel cpu;
  Bank strata[2];
  Nand nand[2];
};
// Every module make_jtag_module knows.
std::span<const JtagModuleKind> jtag_module_kinds();
inline constexpr std::size_t jtag_module_kind_count = 10;
// Builds one of the named modules ("pxa270-j3x16", ...); nullptr and `error` when unknown.
std::unique_ptr<JtagModule> make_jtag_module(const std::string& name, std::string& error);

// A flash file keeps a module's flash contents across runs: the bytes of flash_image(), nothing
// else. Saving writes the whole file (false when it cannot be written). Loading takes a file of
// exactly the module's size; a missing file is created erased (from the module as it is). False
// with `error` when the file cannot be created or does not fit the module.
bool save_flash_file(const JtagModule& module, const std::string& path);
bool load_or_create_flash_file(JtagModule& module, const std::string& path, std::string& error);

}  // namespace dz::sim
