// Fuzz target for the image reader: the input is written to a file that is then classified and
// read record by record, piece by piece, to the end; the download check must agree with what the
// reader yields. Also feeds the input to parse_hex.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "image/bin_image.h"

namespace {

// The scratch file, removed when the process ends.
struct ScratchFile {
  std::string path;
  ~ScratchFile() {
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
};

std::string scratch_path() {
  std::random_device rd;
  // A memory-backed folder where there is one: the file is rewritten for every input.
  std::error_code ec;
  const std::filesystem::path shm = "/dev/shm";
  const auto folder =
      std::filesystem::is_directory(shm, ec) ? shm : std::filesystem::temp_directory_path();
  return (folder / ("dz-fuzz-image-" + std::to_string(rd()) + ".bin")).string();
}

const std::string& scratch_file() {
  static const ScratchFile file{scratch_path()};
  return file.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)dz::parse_hex(std::string_view(reinterpret_cast<const char*>(data), size));

  const std::string& path = scratch_file();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const dz::ImageInfo info = dz::classify(path);
  if (info.kind == dz::ImageKind::unreadable || info.file_size != size) __builtin_trap();

  dz::BinImageHeader header;
  dz::BinRecordTable table;
  dz::BinImageReader reader;
  const int count = reader.open(path, header, table);
  if (count < 0 || count > dz::max_bin_records) __builtin_trap();
  if (count > 0 && info.kind != dz::ImageKind::wince) __builtin_trap();

  // Piece size from the input, so that short and long pieces are both tried.
  const std::uint32_t piece = size > 20 ? 1u + data[size - 1] * 16u : 1024u;
  std::vector<std::uint8_t> buffer(piece);
  std::uint64_t total = 0;
  for (int guard = 0; count > 0 && guard < 100000; ++guard) {
    const int current = reader.current_record();
    if (current < 0 || current >= count) __builtin_trap();
    if (dz::is_terminator(table[static_cast<std::size_t>(current)])) break;
    std::uint32_t address = 0;
    std::uint32_t n = piece;
    const int next = reader.read_piece(buffer.data(), address, n);
    if (n > piece) __builtin_trap();
    total += n;
    if (total > size) __builtin_trap();  // never more data than the file holds
    if (next == dz::bin_end_marker) break;
  }
  reader.close();

  // The check before a download, over the header's range: an accepted image has records inside
  // it that do not overlap, so their data never adds up to more than the range or the file.
  dz::BinRecordTable checked;
  const dz::ImageCheck check =
      dz::check_image_file(path, false, header.image_start, header.image_length, checked);
  if (check.fault == dz::ImageFault::none) {
    if (count == 0 || check.record_count != count) __builtin_trap();
    if (check.data_bytes == 0 || check.data_bytes > header.image_length) __builtin_trap();
    if (check.data_bytes > size) __builtin_trap();
  } else if (dz::image_fault_text(check, path).empty()) {
    __builtin_trap();
  }
  return 0;
}
