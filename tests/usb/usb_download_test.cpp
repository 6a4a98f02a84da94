// Whole JTAG downloads over the simulated USB adapter into a simulated module, flash compared
// byte for byte (in the Windows build through the stand-in FTCJTAG.dll).
#include <algorithm>
#include <ostream>
#include <random>

#include "download/interface.h"
#include "download/job.h"
#include "download/options.h"
#include "image/bin_image.h"
#include "platform/clock.h"
#include "resources/resource.h"
#include "tests/image/image_builder.h"
#include "tests/usb/usb_fixture.h"

namespace dz::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct DownloadCase {
  const char* adapter;
  std::uint32_t speed_hz;
  std::uint32_t kind_after;
  const char* name;
};

std::ostream& operator<<(std::ostream& out, const DownloadCase& c) {
  return out << c.adapter << " at " << c.speed_hz << " Hz";
}

class UsbDownload : public UsbTest, public ::testing::WithParamInterface<DownloadCase> {};

TEST_P(UsbDownload, BootloaderWithVerifyLandsByteForByte) {
  const DownloadCase& c = GetParam();
  sim::FtdiAdapterSim& adapter = plug(c.adapter);
  jtag_speed_hz = c.speed_hz;
  verify_after_write = 1;
  std::mt19937 rng(7);
  const std::uint32_t start = 0x80000000, length = 0x1400;
  std::vector<ImageRecord> records = {{start, random_bytes(rng, 0x403)},
                                      {start + 0x409, random_bytes(rng, 0xFF1)}};
  const auto path = dir_.write("eboot.bin", make_image(start, length, records));
  const ImageInfo info = classify(path);
  const std::uint64_t t0 = clock::now_us();
  ASSERT_EQ(start_download_job(ui::no_window, jtag_interface_index, path, 0,
                               info.header.image_start, info.header.image_length, 1),
            1);
  EXPECT_THAT(box_texts(), ElementsAre());
  EXPECT_EQ(jtag_interface, c.kind_after);
  EXPECT_THAT(texts(IDD_DETECTION, IDC_DETECT_STATUS), Contains(c.name));

  std::vector<std::uint8_t> expected(length, 0xFF);
  for (const auto& r : records)
    std::copy(r.data.begin(), r.data.end(), expected.begin() + (r.address - start));
  const auto& flash = module_->strata_banks().at(0)->contents();
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash.begin()));
  EXPECT_TRUE(std::all_of(flash.begin() + length, flash.begin() + length + 256,
                          [](std::uint8_t b) { return b == 0xFF; }));

  // Closing left the adapter at 1.2 MHz; the transfers took virtual time.
  EXPECT_EQ(adapter.engine().divisor(), 4u);
  EXPECT_GT(clock::now_us() - t0, 0u);
}

INSTANTIATE_TEST_SUITE_P(Adapters, UsbDownload,
                         ::testing::Values(DownloadCase{"jtagkey", 0, 4, "AMONTEC JTAGKEY"},
                                           DownloadCase{"olimex-arm-usb-ocd-h", 6000000, 5,
                                                        "OLIMEX OPENOCD JTAG ARM-USB-OCD-H"}));

}  // namespace
}  // namespace dz::testing
