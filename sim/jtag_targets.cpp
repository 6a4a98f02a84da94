// Simulated JTAG modules for `--target sim:NAME[,flash=FILE][,locked=all][,bad=B:B:...][,late=N]`:
// flash=FILE keeps the flash contents in a file across runs (created erased when missing),
// locked=all locks every StrataFlash block (as P30/P33 chips come out of reset), bad=... puts
// factory bad-block marks on the NAND blocks listed, late=N switches the module on only after the
// port has been opened N times (as when it is powered while detection already runs),
// usb=ADAPTER plugs a simulated FTDI USB adapter (olimex-arm-usb-ocd, olimex-arm-usb-ocd-h,
// jtagkey, jtagkey-2, jtagkey-2p) into the module for the USB adapter choice.
#include <array>
#include <cstdlib>
#include <sstream>
#include <utility>

#include "platform/clock.h"
#include "platform/ftdi.h"
#include "sim/ftdi_adapter.h"
#include "sim/jtag_module.h"
#include "sim/targets.h"

namespace dz::sim {

namespace {

class JtagSession final : public Session {
 public:
  JtagSession(std::unique_ptr<JtagModule> module, std::string file,
              const ftdi::AdapterModel* usb = nullptr)
      : module_(std::move(module)), file_(std::move(file)) {
    clock::use_virtual_clock();
    module_->install();
    if (usb) {
      usb_ = std::make_unique<FtdiAdapterSim>(module_->cpu(), *usb);
      usb_->install();
    }
  }
  ~JtagSession() override {
    usb_.reset();
    module_->uninstall();
    if (!file_.empty()) save_flash_file(*module_, file_);
    clock::use_real_clock();
  }

 private:
  std::unique_ptr<JtagModule> module_;
  std::string file_;
  std::unique_ptr<FtdiAdapterSim> usb_;
};

std::unique_ptr<Session> attach_named(const char* name, const TargetOptions& options,
                                      std::string& error) {
  auto module = make_jtag_module(name, error);
  if (!module) return nullptr;
  std::string file;
  const ftdi::AdapterModel* usb = nullptr;
  for (const auto& [key, value] : options) {
    if (key == "flash") {
      file = value;
    } else if (key == "locked" && value == "all") {
      for (auto* bank : module->strata_banks()) bank->lock_all(true);
    } else if (key == "bad") {
      std::stringstream list(value);
      std::string item;
      while (std::getline(list, item, ':')) {
        char* end = nullptr;
        const unsigned long block = std::strtoul(item.c_str(), &end, 0);
        if (item.empty() || *end != 0 || module->nand().size() == 0) {
          error = "bad=" + value + ": expected NAND block numbers separated by ':'";
          return nullptr;
        }
        for (std::size_t i = 0; i < module->nand().size(); ++i)
          module->nand().chip(i).mark_bad(static_cast<std::uint32_t>(block));
      }
    } else if (key == "late") {
      std::uint32_t opens = 0;
      if (!parse_bounded(value, opens, 1000000)) {
        error = "late=" + value + ": expected a number of port opens (0..1000000)";
        return nullptr;
      }
      module->port().switch_on_late(opens);
    } else if (key == "usb") {
      usb = ftdi::find_adapter_model(value);
      if (usb == nullptr) {
        error = "usb=" + value +
                ": expected olimex-arm-usb-ocd, olimex-arm-usb-ocd-h, jtagkey, jtagkey-2 or "
                "jtagkey-2p";
        return nullptr;
      }
    } else {
      error = "unknown option " + key + "=" + value +
              " (flash=FILE, locked=all, bad=B:B..., late=N, usb=ADAPTER)";
      return nullptr;
    }
  }
  if (!file.empty() && !load_or_create_flash_file(*module, file, error)) return nullptr;
  return std::make_unique<JtagSession>(std::move(module), file, usb);
}

template <std::size_t I>
std::unique_ptr<Session> attach_kind(const TargetOptions& options, std::string& error) {
  return attach_named(jtag_module_kinds()[I].name, options, error);
}

template <std::size_t... I>
constexpr auto make_models(std::index_sequence<I...>) {
  return std::array<TargetModel, sizeof...(I)>{TargetModel{
      jtag_module_kinds()[I].name, "jtag", jtag_module_kinds()[I].description, attach_kind<I>}...};
}

}  // namespace

std::span<const TargetModel> jtag_target_models() {
  static const auto models = make_models(std::make_index_sequence<jtag_module_kind_count>{});
  return models;
}

}  // namespace dz::sim
