#include "sim/jtag_module.h"

#include <algorithm>
#include <fstream>
#include <map>

#include "platform/port_io.h"

namespace dz::sim {

JtagModule::JtagModule(CpuModel cpu) : cpu_(cpu), port_(cpu_, 0) {}

JtagModule::~JtagModule() {
  uninstall();
  for (auto& bank : strata_) cpu_.detach(bank.get());
  if (nand_) cpu_.detach(nand_.get());
}

StrataBank& JtagModule::add_strata(const StrataChipType& type, std::uint32_t chips,
                                   std::uint32_t chip_select) {
  strata_.push_back(std::make_unique<StrataBank>(type, chips, chip_select));
  std::sort(strata_.begin(), strata_.end(),
            [](const auto& a, const auto& b) { return a->chip_select() < b->chip_select(); });
  StrataBank* bank = nullptr;
  for (auto& b : strata_)
    if (b->chip_select() == chip_select) bank = b.get();
  cpu_.attach(bank);
  return *bank;
}

NandArray& JtagModule::nand() {
  if (!nand_) {
    nand_ = std::make_unique<NandArray>();
    cpu_.attach(nand_.get());
  }
  return *nand_;
}

std::vector<StrataBank*> JtagModule::strata_banks() {
  std::vector<StrataBank*> banks;
  for (auto& b : strata_) banks.push_back(b.get());
  return banks;
}

namespace {

// The NAND chips grouped by chip select, each group ordered by lane.
std::map<std::uint32_t, std::vector<NandChip*>> nand_groups(NandArray* nand) {
  std::map<std::uint32_t, std::vector<std::pair<std::uint32_t, NandChip*>>> by_cs;
  if (nand)
    for (std::size_t i = 0; i < nand->size(); ++i)
      by_cs[nand->chip_select(i)].emplace_back(nand->lane(i), &nand->chip(i));
  std::map<std::uint32_t, std::vector<NandChip*>> groups;
  for (auto& [cs, chips] : by_cs) {
    std::sort(chips.begin(), chips.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& c : chips) groups[cs].push_back(c.second);
  }
  return groups;
}

std::uint64_t group_size(const std::vector<NandChip*>& chips) {
  return std::uint64_t{chips.front()->pages()} * chips.front()->page_bytes() * chips.size();
}

}  // namespace

std::uint64_t JtagModule::flash_image_size() const {
  std::uint64_t size = 0;
  for (const auto& b : strata_) size += b->size();
  for (const auto& [cs, chips] : nand_groups(nand_.get())) size += group_size(chips);
  return size;
}

std::vector<std::uint8_t> JtagModule::flash_image() const {
  std::vector<std::uint8_t> image;
  image.reserve(flash_image_size());
  for (const auto& b : strata_)
    image.insert(image.end(), b->contents().begin(), b->contents().end());
  for (const auto& [cs, chips] : nand_groups(nand_.get())) {
    const std::uint32_t data = chips.front()->type().page_size;
    const std::uint32_t bytes = chips.front()->page_bytes();
    const std::size_t lanes = chips.size();
    std::vector<std::uint8_t> page(bytes);
    std::vector<std::uint8_t> bus(bytes * lanes);
    for (std::uint32_t p = 0; p < chips.front()->pages(); ++p) {
      for (std::size_t l = 0; l < lanes; ++l) {
        chips[l]->read_page(p, page.data());
        // Data first, then spare, each interleaved by lane as the bus carries them.
        for (std::uint32_t i = 0; i < bytes; ++i) {
          const std::size_t at = i < data ? i * lanes + l : data * lanes + (i - data) * lanes + l;
          bus[at] = page[i];
        }
      }
      image.insert(image.end(), bus.begin(), bus.end());
    }
  }
  return image;
}

bool JtagModule::load_flash_image(std::span<const std::uint8_t> image) {
  if (image.size() != flash_image_size()) return false;
  std::size_t at = 0;
  for (auto& b : strata_) {
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(at), b->size(), b->contents().begin());
    at += b->size();
  }
  for (const auto& [cs, chips] : nand_groups(nand_.get())) {
    const std::uint32_t data = chips.front()->type().page_size;
    const std::uint32_t bytes = chips.front()->page_bytes();
    const std::size_t lanes = chips.size();
    std::vector<std::uint8_t> page(bytes);
    for (std::uint32_t p = 0; p < chips.front()->pages(); ++p) {
      for (std::size_t l = 0; l < lanes; ++l) {
        for (std::uint32_t i = 0; i < bytes; ++i) {
          const std::size_t off = i < data ? i * lanes + l : data * lanes + (i - data) * lanes + l;
          page[i] = image[at + off];
        }
        chips[l]->write_page_raw(p, page.data());
      }
      at += bytes * lanes;
    }
  }
  return true;
}

void JtagModule::install() {
  port_io::set_simulated_port(&port_);
  installed_ = true;
}

void JtagModule::uninstall() {
  if (!installed_) return;
  if (port_io::simulated_port() == &port_) port_io::set_simulated_port(nullptr);
  installed_ = false;
}

namespace {

// The flash that the loader calls chip select 1 answers at bus address 0x08000000, the window of
// the processor's nCS2 line: that is where the second bank is wired.
constexpr std::uint32_t second_bank_line = 2;

constexpr JtagModuleKind kinds[] = {
    {.name = "pxa270-j3x16",
     .description = "PXA270 with one J3 128 Mbit StrataFlash, 16-bit bus",
     .cpu = CpuModel::pxa270,
     .strata = {{&strata_j3_128, 1, 0}},
     .nand = {}},
    {.name = "pxa270-k3x32-cs1",
     .description = "PXA270 with two K3 128 Mbit as 32-bit bus on CS0 and the same again "
                    "at 0x08000000",
     .cpu = CpuModel::pxa270,
     .strata = {{&strata_k3_128, 2, 0}, {&strata_k3_128, 2, second_bank_line}},
     .nand = {}},
    {.name = "pxa270-p30x16",
     .description = "PXA270 with one P30(B) 128 Mbit StrataFlash, 16-bit bus",
     .cpu = CpuModel::pxa270,
     .strata = {{&strata_p30b_128, 1, 0}},
     .nand = {}},
    {.name = "pxa270-p30x16-1k",
     .description = "PXA270 with one P30(B) 256 Mbit (1 KiB write buffer), 16-bit bus",
     .cpu = CpuModel::pxa270,
     .strata = {{&strata_p30b_256_1k, 1, 0}},
     .nand = {}},
    {.name = "pxa270-p33x16",
     .description = "PXA270 with one P33(B) 128 Mbit StrataFlash, 16-bit bus",
     .cpu = CpuModel::pxa270,
     .strata = {{&strata_p33b_128, 1, 0}},
     .nand = {}},
    {.name = "pxa320-nand-large",
     .description = "PXA320 with a Samsung 1 Gbit large-page NAND",
     .cpu = CpuModel::pxa320,
     .strata = {},
     .nand = {{&nand_samsung_f1, 0, 0}}},
    {.name = "pxa310-nand-large",
     .description = "PXA310 with a Samsung 2 Gbit large-page NAND",
     .cpu = CpuModel::pxa310,
     .strata = {},
     .nand = {{&nand_samsung_da, 0, 0}}},
    {.name = "pxa300-nand-small",
     .description = "PXA300 with a Samsung 256 Mbit small-page NAND",
     .cpu = CpuModel::pxa300,
     .strata = {},
     .nand = {{&nand_samsung_75, 0, 0}}},
    {.name = "pxa300-nand-small-x16",
     .description = "PXA300 with two Samsung 512 Mbit small-page NANDs as a 16-bit bus",
     .cpu = CpuModel::pxa300,
     .strata = {},
     .nand = {{&nand_samsung_76, 0, 0}, {&nand_samsung_76, 0, 1}}},
    {.name = "pxa320-nand-2cs",
     .description = "PXA320 with two Hynix 4 Gbit large-page NANDs on NAND CS0 and CS1",
     .cpu = CpuModel::pxa320,
     .strata = {},
     .nand = {{&nand_hynix_dc, 0, 0}, {&nand_hynix_dc, 1, 0}}},
};

static_assert(std::size(kinds) == jtag_module_kind_count);

}  // namespace

std::span<const JtagModuleKind> jtag_module_kinds() {
  return kinds;
}

std::unique_ptr<JtagModule> make_jtag_module(const std::string& name, std::string& error) {
  for (const auto& kind : kinds) {
    if (name != kind.name) continue;
    auto m = std::make_unique<JtagModule>(kind.cpu);
    for (const auto& bank : kind.strata)
      if (bank.type) m->add_strata(*bank.type, bank.chips, bank.chip_select);
    for (const auto& chip : kind.nand)
      if (chip.type) m->nand().add(*chip.type, chip.cs, chip.lane);
    return m;
  }
  error = "unknown JTAG module \"" + name + "\"";
  return nullptr;
}

bool save_flash_file(const JtagModule& module, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const auto image = module.flash_image();
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  return static_cast<bool>(out);
}

bool load_or_create_flash_file(JtagModule& module, const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (!save_flash_file(module, path)) {
      error = "cannot create flash file " + path;
      return false;
    }
    return true;
  }
  std::vector<std::uint8_t> image(module.flash_image_size());
  in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
  const bool complete = in.gcount() == static_cast<std::streamsize>(image.size());
  in.peek();
  if (!complete || !in.eof() || !module.load_flash_image(image)) {
    error = "flash file " + path + " does not hold " + std::to_string(image.size()) +
            " bytes for this module";
    return false;
  }
  return true;
}

}  // namespace dz::sim
