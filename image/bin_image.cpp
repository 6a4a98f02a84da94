// Windows CE binary images: classify, describe, parse_hex and the record reader.
#include "image/bin_image.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>

#include "resources/resource.h"

namespace dz {

namespace {

std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Reads up to `size` bytes at `offset`; returns the number read.
std::size_t read_at(std::ifstream& file, std::uint64_t offset, std::uint8_t* buffer,
                    std::size_t size) {
  file.clear();
  file.seekg(static_cast<std::streamoff>(offset), std::ios::beg);
  if (!file) {
    file.clear();
    return 0;
  }
  file.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(size));
  const auto got = file.gcount();
  file.clear();
  return got > 0 ? static_cast<std::size_t>(got) : 0;
}

std::uint64_t file_size_of(std::ifstream& file) {
  file.clear();
  file.seekg(0, std::ios::end);
  const auto end = file.tellg();
  file.clear();
  file.seekg(0, std::ios::beg);
  return end > 0 ? static_cast<std::uint64_t>(end) : 0;
}

std::string format_length(std::uint32_t length) {
  char text[64];
  std::snprintf(text, sizeof text, "0x%.8x (%d KB)", length, static_cast<int>(length / 1024));
  return text;
}

}  // namespace

bool decode_bin_header(std::span<const std::uint8_t> bytes, BinImageHeader& header) {
  if (bytes.size() < bin_header_size) return false;
  std::copy_n(bytes.begin(), header.signature.size(), header.signature.begin());
  header.image_start = le32(bytes.data() + 7);
  header.image_length = le32(bytes.data() + 11);
  return true;
}

bool has_bin_signature(const BinImageHeader& header) {
  return header.signature == bin_signature;
}

ImageInfo classify(const std::string& path) {
  ImageInfo info;
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open()) return info;
  info.file_size = file_size_of(file);
  std::array<std::uint8_t, bin_header_size> bytes{};  // a short file leaves zeros behind
  const std::size_t got = read_at(file, 0, bytes.data(), bytes.size());
  decode_bin_header(bytes, info.header);
  info.kind = got >= bin_signature.size() && has_bin_signature(info.header) ? ImageKind::wince
                                                                            : ImageKind::raw;
  if (info.kind == ImageKind::raw) info.header = BinImageHeader{};
  return info;
}

void describe(ui::Window dlg, const std::string& path, bool bootloader_half) {
  const int type_id = bootloader_half ? IDC_BOOT_TYPE : IDC_IMAGE_TYPE;
  const int start_id = bootloader_half ? IDC_BOOT_START : IDC_IMAGE_START;
  const int length_id = bootloader_half ? IDC_BOOT_LENGTH : IDC_IMAGE_LENGTH;
  const int button_id = bootloader_half ? IDC_BOOT_DOWNLOAD : IDC_IMAGE_DOWNLOAD;

  const ImageInfo info = classify(path);
  switch (info.kind) {
    case ImageKind::unreadable:
      ui::enable(dlg, button_id, false);
      ui::set_text(dlg, type_id, "");
      ui::set_text(dlg, start_id, "");
      ui::set_text(dlg, length_id, "");
      break;
    case ImageKind::wince: {
      ui::enable(dlg, button_id, true);
      ui::set_text(dlg, type_id, "WinCE");
      char start[32];
      std::snprintf(start, sizeof start, "0x%.8x", info.header.image_start);
      ui::set_text(dlg, start_id, start);
      ui::set_text(dlg, length_id, format_length(info.header.image_length));
      ui::set_read_only(dlg, start_id, true);
      break;
    }
    case ImageKind::raw: {
      ui::enable(dlg, button_id, true);
      ui::set_text(dlg, type_id, "Raw");
      ui::set_text(dlg, start_id, "0x80000000");
      // A download length is 32 bits; a larger file shows (and is sent as) its first 4 GiB - 1.
      const auto size = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(info.file_size, std::numeric_limits<std::uint32_t>::max()));
      ui::set_text(dlg, length_id, format_length(size));
      ui::set_read_only(dlg, start_id, false);
      break;
    }
  }
}

std::uint32_t parse_hex(std::string_view text) {
  std::size_t i = 0;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) i = 2;
  std::uint32_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    std::uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      break;
    }
    value = value << 4 | digit;  // wraps at 32 bits
  }
  return value;
}

int BinImageReader::open(const std::string& path, BinImageHeader& header, BinRecordTable& table) {
  reset(table);
  file_.open(path, std::ios::binary);
  if (!file_.is_open()) {
    error_ = BinImageError::cannot_open;
    return 0;
  }
  const std::uint64_t size = file_size_of(file_);
  if (!read_header(header)) return 0;
  const int count = scan_records(size, table);
  if (count == 0) return 0;
  record_count_ = count;
  records_remaining_ = count;
  current_record_ = 0;
  skip_empty_records();
  return record_count_;
}

void BinImageReader::reset(BinRecordTable& table) {
  close();
  error_ = BinImageError::none;
  record_count_ = 0;
  current_record_ = 0;
  records_remaining_ = 0;
  position_ = 0;
  table_ = table.data();
}

bool BinImageReader::read_header(BinImageHeader& header) {
  std::array<std::uint8_t, bin_header_size> bytes{};
  const std::size_t got = read_at(file_, 0, bytes.data(), bytes.size());
  decode_bin_header(bytes, header);
  if (got < bin_signature.size() || !has_bin_signature(header)) {
    error_ = BinImageError::no_signature;
    return false;
  }
  if (got < bin_header_size) {
    error_ = BinImageError::truncated;
    return false;
  }
  return true;
}

// Scans the record headers up to the terminator. Every data record must lie inside the file and
// fit the table; the terminator's length field is not a data length and is not checked.
int BinImageReader::scan_records(std::uint64_t size, BinRecordTable& table) {
  std::uint64_t pos = bin_header_size;
  int count = 0;
  bool terminated = false;
  while (!terminated && pos < size) {
    std::array<std::uint8_t, bin_record_size> rec{};
    if (read_at(file_, pos, rec.data(), rec.size()) < rec.size()) {
      error_ = BinImageError::truncated;
      return 0;
    }
    if (count == max_bin_records) {
      error_ = BinImageError::too_many_records;
      return 0;
    }
    BinRecord record{le32(rec.data()), le32(rec.data() + 4), le32(rec.data() + 8)};
    const std::uint64_t data = pos + bin_record_size;
    terminated = is_terminator(record);
    if (!terminated && data + record.length > size) {
      error_ = BinImageError::truncated;
      return 0;
    }
    table[static_cast<std::size_t>(count)] = record;
    data_offset_[static_cast<std::size_t>(count)] = data;
    ++count;
    pos = data + (terminated ? 0 : record.length);
  }
  if (count == 0) {
    error_ = BinImageError::no_records;
    return 0;
  }
  if (!terminated) {
    error_ = BinImageError::truncated;
    return 0;
  }
  return count;
}

void BinImageReader::skip_empty_records() {
  while (current_record_ < record_count_ && !is_terminator(table_[current_record_]) &&
         table_[current_record_].length == 0) {
    --records_remaining_;
    ++current_record_;
  }
  if (current_record_ < record_count_) {
    position_ = data_offset_[static_cast<std::size_t>(current_record_)];
  }
}

int BinImageReader::read_piece(std::uint8_t* buffer, std::uint32_t& address, std::uint32_t& count) {
  if (!file_.is_open() || table_ == nullptr || current_record_ >= record_count_ ||
      records_remaining_ <= 0 || is_terminator(table_[current_record_])) {
    address = 0;
    count = 0;
    return bin_end_marker;
  }
  BinRecord& record = table_[current_record_];
  address = record.address;
  const std::uint32_t wanted = std::min(count, record.length);
  const auto got = static_cast<std::uint32_t>(read_at(file_, position_, buffer, wanted));
  count = got;
  position_ += got;
  record.address += got;
  record.length -= got;
  if (record.length == 0) {
    --records_remaining_;
    ++current_record_;
    skip_empty_records();
  }
  if (records_remaining_ <= 0 || got == 0) return bin_end_marker;
  return current_record_;
}

void BinImageReader::close() {
  if (file_.is_open()) file_.close();
  file_.clear();
}

std::string bin_image_error_text(BinImageError error) {
  switch (error) {
    case BinImageError::none:
    case BinImageError::cannot_open:
    case BinImageError::no_signature:
    case BinImageError::no_records:
      return "";
    case BinImageError::too_many_records:
      return "Image File Has Too Many Records (more than 256)";
    case BinImageError::truncated:
      return "Image File Is Truncated";
  }
  return "";
}

namespace {

// Checks that the path names a non-empty regular file.
bool check_file_status(const std::string& path, ImageCheck& check) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) {
    check.fault = ImageFault::cannot_open;
    return false;
  }
  if (!std::filesystem::is_regular_file(status)) {
    check.fault = ImageFault::not_regular;
    return false;
  }
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) {
    check.fault = ImageFault::cannot_open;
    return false;
  }
  if (size == 0) {
    check.fault = ImageFault::empty;
    return false;
  }
  return true;
}

ImageFault fault_of(BinImageError error) {
  switch (error) {
    case BinImageError::none:
      break;
    case BinImageError::cannot_open:
      return ImageFault::cannot_open;
    case BinImageError::no_signature:
      return ImageFault::not_an_image;
    case BinImageError::no_records:
      return ImageFault::no_records;
    case BinImageError::too_many_records:
      return ImageFault::too_many_records;
    case BinImageError::truncated:
      return ImageFault::truncated;
  }
  return ImageFault::none;
}

constexpr std::uint64_t address_space = std::uint64_t{1} << 32;

// Collects the data records (all but the terminator, skipping empty ones) into `data`, checking
// that each lies inside the address space and inside [start, start + length). Returns how many.
std::size_t collect_data_records(const BinRecordTable& table, int count, std::uint32_t start,
                                 std::uint32_t length, BinRecordTable& data, ImageCheck& check) {
  std::size_t n = 0;
  for (int i = 0; i + 1 < count; ++i) {
    const BinRecord& r = table[static_cast<std::size_t>(i)];
    if (r.length == 0) continue;  // carries nothing; the reader passes it over
    if (std::uint64_t{r.address} + r.length > address_space) {
      check.fault = ImageFault::record_wraps;
      check.record = r;
      return n;
    }
    if (r.address < start || std::uint64_t{r.address} + r.length > std::uint64_t{start} + length) {
      check.fault = ImageFault::record_outside;
      check.record = r;
      return n;
    }
    data[n++] = r;
    check.data_bytes += r.length;
  }
  return n;
}

// Flash bits only ever go from 1 to 0: a byte written twice ends up as neither record's.
void check_overlaps(BinRecordTable& data, std::size_t n, ImageCheck& check) {
  std::sort(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n),
            [](const BinRecord& a, const BinRecord& b) { return a.address < b.address; });
  for (std::size_t i = 1; i < n; ++i) {
    if (std::uint64_t{data[i - 1].address} + data[i - 1].length > data[i].address) {
      check.fault = ImageFault::records_overlap;
      check.record = data[i - 1];
      check.other = data[i];
      return;
    }
  }
}

}  // namespace

ImageCheck check_image_file(const std::string& path, bool raw, std::uint32_t start,
                            std::uint32_t length, BinRecordTable& table) {
  BinImageReader reader;
  return check_image_file(path, raw, start, length, reader, table);
}

ImageCheck check_image_file(const std::string& path, bool raw, std::uint32_t start,
                            std::uint32_t length, BinImageReader& reader, BinRecordTable& table) {
  ImageCheck check;
  if (!check_file_status(path, check)) return check;
  if (raw) return check;

  BinImageHeader header;
  const int count = reader.open(path, header, table);
  check.fault = fault_of(reader.error());
  if (check.fault != ImageFault::none) return check;
  check.record_count = count;

  if (std::uint64_t{start} + length > address_space) {
    check.fault = ImageFault::range_wraps;
    return check;
  }
  BinRecordTable data{};
  const std::size_t n = collect_data_records(table, count, start, length, data, check);
  if (check.fault != ImageFault::none) return check;
  if (n == 0) {
    check.fault = ImageFault::no_data;
    return check;
  }
  check_overlaps(data, n, check);
  return check;
}

std::string image_fault_text(const ImageCheck& check, const std::string& path) {
  char text[512];
  const BinRecord& r = check.record;
  switch (check.fault) {
    case ImageFault::none:
      return "";
    case ImageFault::cannot_open:
      std::snprintf(text, sizeof text, "Cannot Open Image File (%s)", path.c_str());
      break;
    case ImageFault::not_regular:
      std::snprintf(text, sizeof text, "Image File Is Not a Regular File (%s)", path.c_str());
      break;
    case ImageFault::empty:
      std::snprintf(text, sizeof text, "Image File Is Empty (%s)", path.c_str());
      break;
    case ImageFault::not_an_image:
      std::snprintf(text, sizeof text, "Image File Is Not a Windows CE Image (%s)", path.c_str());
      break;
    case ImageFault::no_records:
      return "Image File Has No Records";
    case ImageFault::too_many_records:
      return bin_image_error_text(BinImageError::too_many_records);
    case ImageFault::truncated:
      return bin_image_error_text(BinImageError::truncated);
    case ImageFault::range_wraps:
      return "Image Range Runs Past the End of the Address Space";
    case ImageFault::record_wraps:
      std::snprintf(text, sizeof text,
                    "Image Record at 0x%.8x (Length 0x%.8x) Runs Past the End of the Address Space",
                    r.address, r.length);
      break;
    case ImageFault::record_outside:
      std::snprintf(text, sizeof text,
                    "Image Record at 0x%.8x (Length 0x%.8x) Lies Outside the Image", r.address,
                    r.length);
      break;
    case ImageFault::records_overlap:
      std::snprintf(text, sizeof text,
                    "Image Records at 0x%.8x (Length 0x%.8x) and 0x%.8x (Length 0x%.8x) Overlap",
                    r.address, r.length, check.other.address, check.other.length);
      break;
    case ImageFault::no_data:
      return "Image File Contains No Data";
  }
  return text;
}

}  // namespace dz
