// Checking an image the way the download job will, to say why it cannot be used.
#include "app/cli/image_check.h"

#include <memory>

#include "image/bin_image.h"

namespace dz::cli {

std::string image_problem(const std::string& path) {
  // The image's own start and length are the range a bootloader download erases; a record
  // outside it, overlapping records and the rest are refused by the job as well.
  std::uint32_t start = 0;
  std::uint32_t length = 0;
  {
    BinImageHeader header;
    auto table = std::make_unique<BinRecordTable>();
    BinImageReader reader;
    if (reader.open(path, header, *table) > 0) {
      start = header.image_start;
      length = header.image_length;
    }
  }
  auto table = std::make_unique<BinRecordTable>();
  const ImageCheck check = check_image_file(path, false, start, length, *table);
  return check.fault == ImageFault::none ? std::string() : image_fault_text(check, path);
}

}  // namespace dz::cli
