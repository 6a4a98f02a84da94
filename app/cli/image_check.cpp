// Checking an image the way the download job will, to say why it cannot be used.
#include "app/cli/image_check.h"

#include <memory>

#include "image/bin_image.h"

namespace dz::cli {

std::string image_problem(const std::string& path) {
  // The image's own start and length (from its header, as the main window shows them) are the
  // range a bootloader download erases; a record outside it, overlapping records and the rest are
  // refused by the job as well.
  const ImageInfo info = classify(path);
  auto table = std::make_unique<BinRecordTable>();
  const ImageCheck check =
      check_image_file(path, false, info.header.image_start, info.header.image_length, *table);
  return check.fault == ImageFault::none ? std::string() : image_fault_text(check, path);
}

}  // namespace dz::cli
