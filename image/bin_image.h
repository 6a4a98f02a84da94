#pragma once
// Windows CE binary images ("B000FF" files): classifying a file, describing it in the main window,
// reading the hexadecimal start and length fields back, and walking an image record by record.
//
// Layout (all fields unsigned 32-bit little-endian): a 15-byte header (the signature "B000FF\n",
// image start, image length), then records of 12 bytes (address, length, checksum), each followed
// by its data. The terminating record has address 0 and checksum 0 and no data of its own.
#include <array>
#include <cstdint>
#include <fstream>
#include <span>
#include <string>
#include <string_view>

#include "platform/ui.h"

namespace dz {

inline constexpr std::array<std::uint8_t, 7> bin_signature = {0x42, 0x30, 0x30, 0x30,
                                                              0x46, 0x46, 0x0A};
inline constexpr std::uint32_t bin_header_size = 15;
inline constexpr std::uint32_t bin_record_size = 12;
inline constexpr int max_bin_records = 256;  // size of the record table, terminator included
inline constexpr int bin_end_marker = -1;    // read_piece: nothing more to read

struct BinImageHeader {
  std::array<std::uint8_t, 7> signature{};
  std::uint32_t image_start = 0;
  std::uint32_t image_length = 0;
};

struct BinRecord {
  std::uint32_t address = 0;
  std::uint32_t length = 0;
  std::uint32_t checksum = 0;
};

using BinRecordTable = std::array<BinRecord, max_bin_records>;

// The terminator: address 0 and checksum 0.
constexpr bool is_terminator(const BinRecord& record) {
  return record.address == 0 && record.checksum == 0;
}

// Decodes the 15 bytes at the start of a file; false when fewer than 15 bytes are given. Only
// the signature decides whether the file is an image (see has_bin_signature).
bool decode_bin_header(std::span<const std::uint8_t> bytes, BinImageHeader& header);
bool has_bin_signature(const BinImageHeader& header);

enum class ImageKind { unreadable, wince, raw };

struct ImageInfo {
  ImageKind kind = ImageKind::unreadable;
  BinImageHeader header;        // valid for wince
  std::uint64_t file_size = 0;  // valid for wince and raw
};

// Opens the file, reads its first 15 bytes: a Windows CE image exactly when the first seven
// bytes are the signature (the records are not scanned). A file shorter than 7 bytes is raw.
ImageInfo classify(const std::string& path);

// Shows what a file is in one half of the main window: the bootloader half uses the type 1019,
// start 1015, length 1016 fields and download button 1003, the image half 1020/1017/1018/1008.
void describe(ui::Window dlg, const std::string& path, bool bootloader_half);

// Reads a hexadecimal text: an optional 0x/0X prefix, then digits until the first other
// character, wrapping at 32 bits. "0x00040000 (256 KB)" gives 0x40000; "" gives 0.
std::uint32_t parse_hex(std::string_view text);

// Why an image was refused by BinImageReader::open (record count 0).
enum class BinImageError {
  none,
  cannot_open,       // the file cannot be opened
  no_signature,      // not a Windows CE image
  no_records,        // the header is all there is
  too_many_records,  // more than max_bin_records records
  truncated,         // a record header or a record's data is cut off, or the terminator missing
};

// Reads an image record by record. The caller owns the header and the record table; while data
// is read, the current record's entry holds the next address to read and the bytes still to
// read. Records of length 0 other than the terminator are skipped.
class BinImageReader {
 public:
  BinImageReader() = default;
  BinImageReader(const BinImageReader&) = delete;
  BinImageReader& operator=(const BinImageReader&) = delete;

  // Opens the file and scans the record table; returns the record count (terminator included),
  // or 0 when the file cannot be used (see error()). The table is scanned up to the terminator;
  // every data record must lie wholly inside the file.
  int open(const std::string& path, BinImageHeader& header, BinRecordTable& table);

  // Reads up to `count` bytes of the current record into `buffer`. On return `address` holds the
  // piece's address and `count` the bytes read. Returns the index of the record the next call
  // reads from, or bin_end_marker when all records are done or nothing could be read.
  int read_piece(std::uint8_t* buffer, std::uint32_t& address, std::uint32_t& count);

  void close();

  bool is_open() const { return file_.is_open(); }
  int record_count() const { return record_count_; }
  int current_record() const { return current_record_; }
  int records_remaining() const { return records_remaining_; }
  BinImageError error() const { return error_; }

 private:
  // Makes the next record with data (or the terminator) current.
  void skip_empty_records();
  // Closes any open file and clears the state for a new open().
  void reset(BinRecordTable& table);
  // Reads and checks the image header; sets error_ and returns false on a bad one.
  bool read_header(BinImageHeader& header);
  // Fills the table from the record headers; returns the count, or 0 with error_ set.
  int scan_records(std::uint64_t size, BinRecordTable& table);

  std::ifstream file_;
  BinRecord* table_ = nullptr;
  std::array<std::uint64_t, max_bin_records> data_offset_{};  // file offset of each record's data
  std::uint64_t position_ = 0;                                // next data byte to read
  int record_count_ = 0;
  int current_record_ = 0;
  int records_remaining_ = 0;
  BinImageError error_ = BinImageError::none;
};

// A text for the user that says why an image was refused ("" for none).
std::string bin_image_error_text(BinImageError error);

// Why a file cannot be downloaded, found before anything on the target is touched.
enum class ImageFault {
  none,
  cannot_open,       // the file does not exist or cannot be read
  not_regular,       // a directory, device or pipe: no fixed contents to write
  empty,             // a file of 0 bytes
  not_an_image,      // the download expects a Windows CE image, the file has no signature
  no_records,        // an image of only the header
  too_many_records,  // more records than the record table holds
  truncated,         // a record header or its data is cut off, or the terminator is missing
  range_wraps,       // the download range runs past the end of the 32-bit address space
  record_wraps,      // a record's address range runs past the end of the address space
  record_outside,    // a record lies (partly) outside the download range
  records_overlap,   // two records cover the same bytes
  no_data,           // no record carries a byte: nothing would be written
};

// The outcome of check_image_file, with what a message needs.
struct ImageCheck {
  ImageFault fault = ImageFault::none;
  BinRecord record;              // the record at fault (record_wraps, record_outside, overlap)
  BinRecord other;               // the record it overlaps
  std::uint64_t data_bytes = 0;  // bytes the image's records carry
  int record_count = 0;          // records of an image, terminator included
};

// Checks everything about a file that a download depends on, before any target is touched.
// A raw file must be a regular file with at least one byte. A Windows CE image must be whole
// (header, every record header and its data, at most 256 records with the terminator), carry at
// least one data byte, and each data record must lie inside [start, start + length) without
// wrapping past 4 GiB or overlapping another record. The records are left in `table`.
ImageCheck check_image_file(const std::string& path, bool raw, std::uint32_t start,
                            std::uint32_t length, BinRecordTable& table);

// The same check through the caller's reader, which stays open on the image: after a passed
// check it is at the first record, so the caller reads exactly the records that were checked.
ImageCheck check_image_file(const std::string& path, bool raw, std::uint32_t start,
                            std::uint32_t length, BinImageReader& reader, BinRecordTable& table);

// The message that names the fault (the path is named where the file itself is at fault).
std::string image_fault_text(const ImageCheck& check, const std::string& path);

}  // namespace dz
