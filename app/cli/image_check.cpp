// Reading an image's record table the way the download job will, to say why it cannot be used.
#include "app/cli/image_check.h"

#include "image/bin_image.h"

namespace dz::cli {

namespace {

// The reader's own text, or ours where it has none.
std::string reason_of(BinImageError error) {
  std::string text = bin_image_error_text(error);
  if (!text.empty()) return text;
  switch (error) {
    case BinImageError::cannot_open:
      return "the file cannot be opened";
    case BinImageError::no_signature:
      return "it is not a Windows CE image";
    case BinImageError::no_records:
      return "the image holds its header and no record";
    case BinImageError::too_many_records:
      return "the image holds more records than can be downloaded";
    case BinImageError::truncated:
      return "the image is cut off before its terminator";
    default:  // the reader's newer refusals carry texts of their own
      break;
  }
  return "its record table cannot be read";
}

}  // namespace

std::string image_problem(const std::string& path) {
  BinImageHeader header;
  BinRecordTable table;
  BinImageReader reader;
  const int count = reader.open(path, header, table);
  const BinImageError error = reader.error();
  reader.close();
  return count > 0 ? std::string() : reason_of(error);
}

}  // namespace dz::cli
