// The download job: detection, then the Download dialog and its thread, which opens the
// interface, erases, transfers the file (whole-file streaming or section-wise) and closes.
#include "download/job.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "download/detection_dialog.h"
#include "download/flash_map.h"
#include "download/interface.h"
#include "download/options.h"
#include "download/progress.h"
#include "image/bin_image.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/thread.h"
#include "resources/resource.h"

namespace dz {

namespace {

constexpr std::uint32_t stream_piece_size = 0x8000;      // whole-file streaming
constexpr std::uint32_t section_piece_size = 1024;       // one record piece
constexpr std::uint32_t section_buffer_size = 4096;      // buffer of the record pieces
constexpr std::uint32_t whole_block_piece_size = 0x800;  // whole-block mode
// The whole image is assembled in memory in whole-block mode; a header that declares more than
// this is not a module image.
constexpr std::uint32_t whole_block_limit = 512u << 20;
constexpr std::uint32_t fixed_ip_address = 0x80000000;
constexpr std::uint32_t fixed_ip_bytes = 12;  // bytes 4..7 address, 8..11 subnet mask

struct JobState {
  std::mutex lock;
  DownloadJob job;
};

JobState& job_state() {
  static JobState state;
  return state;
}

DownloadJob job_copy() {
  auto& s = job_state();
  std::lock_guard guard(s.lock);
  return s.job;
}

std::uint32_t clamp32(std::uint64_t value) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, UINT32_MAX));
}

// The name of the first operation that a job on `record` needs but the record lacks, or nullptr.
const char* missing_operation(const DownloadInterface& record, bool needs_verify) {
  if (record.detect == nullptr) return "detect";
  if (record.open == nullptr) return "open";
  if (record.erase == nullptr) return "erase";
  if (record.write == nullptr) return "write";
  if (record.close == nullptr) return "close";
  if (needs_verify && record.verify == nullptr) return "verify";
  return nullptr;
}

void set_stage(ui::Window dlg, const char* text) {
  ui::set_text(dlg, IDC_STAGE_TEXT, text);
}

// The network settings that "Program Fix IP" puts into a bootloader: bytes 4..7 of the image at
// 0x80000000 hold the IP address, bytes 8..11 the subnet mask, most significant octet first.
struct IpPatch {
  bool active = false;
  std::array<std::uint8_t, 8> bytes{};
};
constexpr std::uint32_t fixed_ip_first = fixed_ip_address + 4;
constexpr std::uint32_t fixed_ip_end = fixed_ip_address + fixed_ip_bytes;

// Puts the patch bytes that fall into the piece [address, address + length) into it, so that
// each byte is written once, with its final value, by whichever record carries it.
void apply_ip_patch(const IpPatch& patch, std::uint8_t* piece, std::uint32_t address,
                    std::uint32_t length) {
  if (!patch.active) return;
  for (std::uint32_t i = 0; i < patch.bytes.size(); ++i) {
    const std::uint32_t at = fixed_ip_first + i - address;  // wraps for bytes before the piece
    if (at < length) piece[at] = patch.bytes[i];
  }
}

// The image as the check right before the erase found it. The reader stays open on it, so the
// transfer writes exactly the records that were checked, without scanning the file again.
struct CheckedImage {
  BinImageReader reader;
  std::unique_ptr<BinRecordTable> table = std::make_unique<BinRecordTable>();
  int count = 0;  // records in the table, the terminator included
  IpPatch patch;  // the fixed-IP bytes and where they go
};

bool covered_by(const BinRecordTable& records, int count, std::uint32_t address) {
  for (int i = 0; i + 1 < count; ++i) {
    const BinRecord& r = records[static_cast<std::size_t>(i)];
    if (address - r.address < r.length) return true;
  }
  return false;
}

// Everything about the file that the job depends on, checked before the target is touched (and
// again right before the erase: detection can take long, and the file may change meanwhile).
// Shows why and returns false when the job cannot succeed. `image` receives the checked image of
// a section-wise job; the first check also tells the user when the fixed-IP bytes have nowhere
// to go.
bool check_job_file(const DownloadJob& job, const DownloadInterface& record, bool first_check,
                    CheckedImage& image) {
  // Interfaces that take whole files hand them to the module unchanged, and the module reads the
  // image; for them only what is not a file with fixed contents (a device, a pipe) is refused.
  const bool whole_files = record.streams_whole_file != 0;
  const bool section_wise = job.is_raw == 0 && !whole_files;
  const ImageCheck check = check_image_file(job.image_path, !section_wise, job.image_start,
                                            job.image_length, image.reader, *image.table);
  if (check.fault != ImageFault::none && !(whole_files && check.fault == ImageFault::empty)) {
    show_error("%s", image_fault_text(check, job.image_path).c_str());
    return false;
  }
  if (!section_wise) return true;
  image.count = check.record_count;

  if (rom_offset_enable != 0 && job.is_bootloader == 0) {
    const std::uint32_t moved = job.image_start + rom_offset;
    if (std::uint64_t{moved} + job.image_length > std::uint64_t{1} << 32) {
      show_error("Image Moved by the Offset 0x%.8x Runs Past the End of the Address Space",
                 rom_offset.load());
      return false;
    }
  }

  if (fix_ip != 0 && job.is_bootloader != 0) {
    bool placed = false;
    for (std::uint32_t a = fixed_ip_address; a != fixed_ip_end && !placed; ++a)
      placed = covered_by(*image.table, image.count, a);
    if (!placed) {
      if (first_check) {
        constexpr const char* text =
            "Program Fix IP is on, but the image has no data at 0x80000000: "
            "the IP address and subnet mask are not programmed.";
        debug_info("%s", text);
        ui::message_box(ui::no_window, text, "Warning", ui::MB_OK | ui::MB_ICONWARNING);
      }
      return true;
    }
    for (std::uint32_t a = fixed_ip_first; a != fixed_ip_end; ++a) {
      if (!covered_by(*image.table, image.count, a)) {
        show_error("Cannot Program Fix IP: the Image Has No Data at 0x%.8x", a);
        return false;
      }
    }
    const std::uint32_t ip = fixed_ip;
    const std::uint32_t subnet = fixed_subnet;
    image.patch.active = true;
    image.patch.bytes = {
        static_cast<std::uint8_t>(ip >> 24),     static_cast<std::uint8_t>(ip >> 16),
        static_cast<std::uint8_t>(ip >> 8),      static_cast<std::uint8_t>(ip),
        static_cast<std::uint8_t>(subnet >> 24), static_cast<std::uint8_t>(subnet >> 16),
        static_cast<std::uint8_t>(subnet >> 8),  static_cast<std::uint8_t>(subnet)};
  }
  return true;
}

// Whole-file streaming: the file's bytes, unchanged, in 32 KiB pieces from the start address.
// Result 1 when the file was sent or the user aborted, 0 when it could not be read or a write
// failed (the interface has said why).
int stream_whole_file(ui::Window dlg, const DownloadJob& job, const DownloadInterface& record) {
  std::ifstream file(job.image_path, std::ios::binary);
  if (!file.is_open()) {
    show_error("Cannot Open Image File (%s)", job.image_path.c_str());
    return 0;
  }
  file.seekg(0, std::ios::end);
  const auto end = file.tellg();
  file.seekg(0, std::ios::beg);
  const std::uint64_t size = end > 0 ? static_cast<std::uint64_t>(end) : 0;
  ui::progress_range(dlg, IDC_TOTAL_BAR, clamp32(size >> 8));

  std::uint32_t address = job.image_start;
  std::uint64_t done = 0;
  std::vector<std::uint8_t> buffer(stream_piece_size);
  ProgressClock progress;
  int result = 1;
  while (abort_flag == 0 && done < size) {
    file.read(reinterpret_cast<char*>(buffer.data()), stream_piece_size);
    const auto got = static_cast<std::uint32_t>(std::max<std::streamsize>(file.gcount(), 0));
    if (got == 0) {  // the file became shorter than it was
      show_error("Cannot Read Image File (%s)", job.image_path.c_str());
      // Raised so that close does not finish the transfer: a module must not take a cut file
      // for a whole one.
      abort_flag = 1;
      result = 0;
      break;
    }
    if (record.write(buffer.data(), address, got) == 0) {
      abort_flag = 1;
      result = 0;
    }
    address += got;
    done += got;
    std::uint32_t elapsed = 0;
    if (progress.due(elapsed)) {
      ui::progress_pos(dlg, IDC_TOTAL_BAR, clamp32(done >> 8));
      ui::set_text(dlg, IDC_TIME_TEXT, progress_text(elapsed, size, done));
    }
  }
  return result;
}

// The state of one section-wise transfer: the checked image's reader and record table (rewritten
// to one record in whole-block mode), the piece buffer and what has been sent.
struct SectionTransfer {
  explicit SectionTransfer(CheckedImage& image)
      : reader(image.reader), table(*image.table), count(image.count) {}

  BinImageReader& reader;
  BinRecordTable& table;
  int count;  // records in the table, the terminator included
  std::uint32_t image_start = 0;
  std::uint32_t covered = 0;  // bytes of the flash map (and of the buffer in whole-block mode)
  bool whole_block = false;
  std::vector<std::uint8_t> buffer;
  std::uint64_t total = 0;  // data bytes of all records
  std::uint64_t total_done = 0;
  std::uint64_t section_done = 0;
  int current = 0;  // the reader's record, or the one record in whole-block mode
  ProgressClock progress;

  BinRecord& record(int index) { return table[static_cast<std::size_t>(index)]; }
};

// Whole-block mode: every data record is read into one buffer of the image's span (at least the
// first block), filled with 0xFF elsewhere; the table becomes that one record and the terminator.
// The check before the erase put every data record inside the image, hence inside the buffer.
bool assemble_whole_image(const DownloadJob& job, SectionTransfer& t, std::uint32_t block_span) {
  const int terminator = t.count - 1;  // the reader ends the table at its terminator
  t.covered = std::max(job.image_length, block_span);
  if (t.covered > whole_block_limit) {
    show_error("Image Too Large (0x%.8x Bytes)", t.covered);
    return false;
  }
  t.buffer.assign(t.covered, 0xFF);
  while (t.reader.current_record() < terminator) {
    const BinRecord& r = t.record(t.reader.current_record());
    std::uint32_t address = 0;
    std::uint32_t got = r.length;
    t.reader.read_piece(t.buffer.data() + (r.address - t.image_start), address, got);
    if (got == 0) {
      show_error("Cannot Read Image File (%s)", job.image_path.c_str());
      return false;
    }
  }
  const std::uint32_t terminator_length = t.record(terminator).length;
  t.record(0) = BinRecord{t.image_start, t.covered, 0xFFFFFFFF};
  t.record(1) = BinRecord{0, terminator_length, 0};
  t.count = 2;
  return true;
}

// Sets up the piece buffer: the assembled image in whole-block mode, else one record piece.
bool prepare_buffer(const DownloadJob& job, const DownloadInterface& record, SectionTransfer& t) {
  t.image_start = job.image_start;
  t.covered = job.image_length;
  const std::uint32_t block_span = record.first_block_span ? record.first_block_span() : 0;
  t.whole_block = block_span != 0;
  try {
    if (t.whole_block) return assemble_whole_image(job, t, block_span);
    t.buffer.assign(section_buffer_size, 0xFF);
    return true;
  } catch (const std::bad_alloc&) {
    show_error("Not Enough Memory for the Image (0x%.8x Bytes)", t.covered);
    return false;
  }
}

// Moves the records by the ROM offset when it applies, and shows the flash map of the image and
// the section and total progress bars.
void show_transfer_layout(ui::Window dlg, const DownloadJob& job, SectionTransfer& t) {
  const bool relocate = rom_offset_enable != 0 && job.is_bootloader == 0;
  const std::uint32_t offset = rom_offset;
  if (relocate) t.image_start += offset;

  set_stage(dlg, "Total Download:");
  ui::show(dlg, IDC_FLASH_MAP, true);
  flash_map_build(t.image_start, t.covered);
  t.total = 0;
  for (int i = 0; i < t.count - 1; ++i) {
    BinRecord& r = t.record(i);
    if (relocate) r.address += offset;
    flash_map_mark(r.address, r.length, map_in_image);
    t.total += r.length;
  }
  flash_map_paint(dlg);
  ui::show(dlg, IDC_SECTION_TEXT, true);
  ui::show(dlg, IDC_SECTION_BAR, true);
  ui::progress_range(dlg, IDC_TOTAL_BAR, clamp32(t.total));
}

// Shows the section that starts now. False when there is none: the transfer is complete.
bool show_section(ui::Window dlg, SectionTransfer& t) {
  t.section_done = 0;
  if (t.current < 0 || t.current >= t.count) return false;
  const BinRecord& r = t.record(t.current);
  if (is_terminator(r)) return false;
  char text[96];
  std::snprintf(text, sizeof text, "Section Starting at %.8x, Length %.8x:", r.address, r.length);
  ui::set_text(dlg, IDC_SECTION_TEXT, text);
  ui::progress_range(dlg, IDC_SECTION_BAR, r.length);
  return true;
}

// The next piece: from the assembled buffer in whole-block mode, else read from the file (which
// also moves `current` on). False when the file no longer holds it (the reason shown).
bool next_piece(const DownloadJob& job, SectionTransfer& t, std::uint8_t*& piece,
                std::uint32_t& address, std::uint32_t& length) {
  if (t.whole_block) {
    // The buffer position and the bytes done always agree: every piece is written whole.
    piece = t.buffer.data() + t.total_done;
    address = t.image_start + static_cast<std::uint32_t>(t.total_done);
    length = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(t.covered - t.total_done, whole_block_piece_size));
    t.current = 1;
    return true;
  }
  piece = t.buffer.data();
  address = t.image_start;
  length = section_piece_size;
  t.current = t.reader.read_piece(piece, address, length);
  if (length != 0) return true;
  show_error("Cannot Read Image File (%s)", job.image_path.c_str());  // changed since the scan
  return false;
}

// Writes one piece (with the fixed-IP bytes that fall into it), verifies it when asked, and
// marks both on the flash map. False when the interface refused (the reason shown).
bool write_piece(ui::Window dlg, const DownloadInterface& record, const IpPatch& patch, bool verify,
                 std::uint8_t* piece, std::uint32_t address, std::uint32_t length) {
  apply_ip_patch(patch, piece, address, length);
  if (record.write(piece, address, length) == 0) {
    show_error("Writing Flash");
    return false;
  }
  clock::sleep_ms(1);
  flash_map_mark(address, length, map_written);
  flash_map_paint(dlg);
  if (verify) {
    if (record.verify(piece, address, length) == 0) {
      show_error("Verifying Flash");
      return false;
    }
    flash_map_mark(address, length, map_verified);
    flash_map_paint(dlg);
  }
  clock::sleep_ms(1);
  return true;
}

void show_progress(ui::Window dlg, SectionTransfer& t, std::uint32_t piece_length) {
  t.section_done += piece_length;
  t.total_done += piece_length;
  std::uint32_t elapsed = 0;
  if (!t.progress.due(elapsed)) return;
  ui::progress_pos(dlg, IDC_SECTION_BAR, clamp32(t.section_done));
  ui::progress_pos(dlg, IDC_TOTAL_BAR, clamp32(t.total_done));
  ui::set_text(dlg, IDC_TIME_TEXT, progress_text(elapsed, t.total, t.total_done));
}

// Section-wise transfer of a Windows CE image: record by record in 1 KiB pieces, or the image
// assembled into one buffer written in 2 KiB pieces when the interface asks for whole blocks.
int transfer_sections(ui::Window dlg, const DownloadJob& job, const DownloadInterface& record,
                      CheckedImage& image) {
  SectionTransfer t(image);
  const bool verify = verify_after_write != 0;
  if (!prepare_buffer(job, record, t)) return 0;
  show_transfer_layout(dlg, job, t);

  t.current = t.whole_block ? 0 : t.reader.current_record();
  int shown = -1;
  for (;;) {
    if (t.current != shown) {
      if (!show_section(dlg, t)) break;  // transfer complete
      shown = t.current;
    }
    do {
      std::uint8_t* piece = nullptr;
      std::uint32_t address = 0;
      std::uint32_t length = 0;
      if (!next_piece(job, t, piece, address, length)) return 0;
      if (!write_piece(dlg, record, image.patch, verify, piece, address, length)) return 0;
      show_progress(dlg, t, length);
    } while (t.whole_block && t.total_done < t.covered);

    if (t.current == bin_end_marker || abort_flag != 0) break;
  }
  return 1;
}

// The Download dialog's thread: open, monitor, erase, transfer, close; ends the dialog.
void download_thread(ui::Window dlg) {
  const DownloadJob job = job_copy();
  const DownloadInterface& record = download_interfaces[job.selected_interface];

  set_stage(dlg, "Initializing Interface...");
  if (record.open(dlg) == 0) {
    show_error("Initializing Interface");
    ui::end_dialog(dlg, 0);
    return;
  }
  ui::set_text(dlg, IDC_TARGET_TEXT, target_description());
  if (record.monitor != nullptr) {
    ui::show(dlg, IDC_MONITOR_OUTPUT, true);
    auto* monitor = record.monitor;
    threads::Thread::start([monitor, dlg] { monitor(dlg); }).detach();
  }

  int result = 0;
  CheckedImage image;
  if (check_job_file(job, record, false, image)) {  // else nothing is erased; it said why
    set_stage(dlg, "Erasing Flash...");
    if (record.erase(job.image_start, job.image_length) == 0) {
      show_error("Erasing Flash");
    } else {
      set_stage(dlg, "Total Download:");
      ui::progress_pos(dlg, IDC_TOTAL_BAR, 0);
      ui::show(dlg, IDC_TOTAL_BAR, true);
      result = job.is_raw != 0 || record.streams_whole_file != 0
                   ? stream_whole_file(dlg, job, record)
                   : transfer_sections(dlg, job, record, image);
    }
  }

  set_stage(dlg, "Finalizing Download (please wait)...");
  // An interface whose transfer ends only in close (the Ethernet one's last acknowledgements)
  // reports there whether it completed.
  if (record.close() == 0) result = 0;
  ui::end_dialog(dlg, result);
}

}  // namespace

int start_download_job(ui::Window owner, int interface_index, const std::string& path, int is_raw,
                       std::uint32_t start, std::uint32_t length, int is_bootloader) {
  if (interface_index < 0 || interface_index >= interface_count) {
    show_error("Unknown Download Interface (%d)", interface_index);
    return 0;
  }
  {
    auto& s = job_state();
    std::lock_guard guard(s.lock);
    s.job = DownloadJob{interface_index, path, is_raw, start, length, is_bootloader};
  }
  flash_failure_notes_clear();
  selected_interface = interface_index;
  target_description_clear();

  const DownloadInterface& record = download_interfaces[interface_index];
  const bool needs_verify =
      verify_after_write != 0 && is_raw == 0 && record.streams_whole_file == 0;
  if (const char* missing = missing_operation(record, needs_verify)) {
    show_error("%s Cannot Be Used (no %s operation)", record.name, missing);
    return 0;
  }

  // Nothing of the target is touched (not even detection) for a file that cannot be downloaded.
  {
    CheckedImage image;  // closed before detection; checked again before the erase
    if (!check_job_file(job_copy(), record, true, image)) return 0;
  }

  if (run_detection_dialog(owner, interface_index) == 0) return 0;

  threads::Thread worker;
  ui::DialogProc proc;
  proc.init = [&worker](ui::Window dlg, std::intptr_t) {
    abort_flag = 0;
    worker = threads::Thread::start([dlg] { download_thread(dlg); });
  };
  proc.command = [](ui::Window, const ui::Command& command) {
    if (command.id == ui::IDCANCEL) abort_flag = 1;  // Abort, Escape and the close box
  };
  const std::intptr_t result = ui::run_dialog(IDD_DOWNLOAD, owner, proc);
  // The thread ends the dialog as its last act; nothing of it outlives the job.
  if (worker) worker.join();
  return static_cast<int>(result);
}

const DownloadJob& current_job() {
  // Written only by start_download_job before any thread of the job starts.
  return job_state().job;
}

}  // namespace dz
