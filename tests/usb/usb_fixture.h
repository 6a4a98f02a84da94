#pragma once
// A simulated module with a simulated FTDI adapter on its JTAG pins, reached the way the program
// reaches a real one: natively through the MPSSE library over the simulated bus, in the Windows
// build through the stand-in "FTCJTAG.dll", to which the adapter is handed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "jtag/cable.h"
#include "jtag/usb_adapter.h"
#include "platform/ftdi.h"
#include "sim/ftdi_adapter.h"
#include "sim/jtag_module.h"
#include "tests/support/host_fixture.h"

#ifndef DZ_USB_STANDIN
#define DZ_USB_STANDIN 0
#endif

namespace dz::testing {

class UsbTest : public test::HostTest {
 protected:
  void TearDown() override {
    jtag_close_cable();
    unplug();
    module_.reset();
    HostTest::TearDown();
  }

  sim::FtdiAdapterSim& plug(const char* adapter_key, const char* module = "pxa270-j3x16") {
    std::string error;
    module_ = sim::make_jtag_module(module, error);
    EXPECT_TRUE(module_) << error;
    const ftdi::AdapterModel* model = ftdi::find_adapter_model(adapter_key);
    EXPECT_NE(model, nullptr) << adapter_key;
    adapter_ = std::make_unique<sim::FtdiAdapterSim>(module_->cpu(), *model);
    if (DZ_USB_STANDIN) {
      auto attach =
          reinterpret_cast<void (*)(ftdi::Bus*)>(ftdi::library_entry("FTCJTAG_StandInAttach"));
      EXPECT_NE(attach, nullptr) << "the stand-in FTCJTAG.dll is not next to the test program";
      if (attach) attach(adapter_.get());
    } else {
      adapter_->install();
    }
    jtag_interface = adapter_number(AdapterKind::usb_amontec);
    return *adapter_;
  }

  void unplug() {
    if (DZ_USB_STANDIN) {
      auto attach =
          reinterpret_cast<void (*)(ftdi::Bus*)>(ftdi::library_entry("FTCJTAG_StandInAttach"));
      if (attach) attach(nullptr);
    }
    adapter_.reset();
  }

  // Opens the adapter and resets the TAP, as detection does.
  void open_and_reset() {
    ASSERT_EQ(jtag_open_cable(), 1);
    ASSERT_EQ(jtag_reset_tap(1), 1);
  }

  std::unique_ptr<sim::JtagModule> module_;
  std::unique_ptr<sim::FtdiAdapterSim> adapter_;
};

}  // namespace dz::testing
