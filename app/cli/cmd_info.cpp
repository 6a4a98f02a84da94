// The 'info' command: what the main window shows about a file, and the record table of a
// Windows CE image.
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli/commands.h"
#include "app/cli/image_check.h"
#include "app/cli/script.h"
#include "image/bin_image.h"
#include "platform/files.h"
#include "resources/resource.h"

namespace dz::cli {

namespace {

constexpr std::size_t longest_path = 259;  // the main window's file field

std::string hex8(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%.8x", static_cast<unsigned>(value));
  return text;
}

// False when the image cannot be downloaded (the reason is printed).
bool print_records(const std::string& path) {
  BinImageHeader header;
  BinRecordTable table;
  BinImageReader reader;
  int count = reader.open(path, header, table);
  reader.close();
  if (count == 0) {
    warn("  Records:      the image cannot be downloaded: " + image_problem(path));
    return false;
  }
  say("  Records:      " + std::to_string(count - 1) + " data record" +
      (count - 1 == 1 ? "" : "s") + " and the terminator");
  say("      #  Address     Length      Checksum");
  for (int i = 0; i < count; ++i) {
    const BinRecord& record = table[static_cast<std::size_t>(i)];
    char text[96];
    if (is_terminator(record))
      std::snprintf(text, sizeof text, "  %5d  terminator  %s", i, hex8(record.length).c_str());
    else
      std::snprintf(text, sizeof text, "  %5d  %s  %s  %s", i, hex8(record.address).c_str(),
                    hex8(record.length).c_str(), hex8(record.checksum).c_str());
    say(text);
  }
  // Readable records can still be refused (overlapping, outside the image, nothing to write).
  if (const std::string problem = image_problem(path); !problem.empty()) {
    warn("  The image cannot be downloaded: " + problem);
    return false;
  }
  return true;
}

int describe_files(ui::Window main, const std::vector<std::string>& files) {
  int status = exit_success;
  for (const std::string& path : files) {
    say(path);
    if (path.size() > longest_path) {
      warn("  The file name is longer than " + std::to_string(longest_path) + " characters.");
      status = exit_failure;
      continue;
    }
    // Only a regular file is opened: a FIFO would wait for a writer.
    const std::string why = files::not_a_file_reason(path);
    if (!why.empty()) {
      warn("  Cannot open the file: " + why + ".");
      status = exit_failure;
      continue;
    }
    type_text(main, IDC_IMAGE_FILE, path, true);
    if (!ui::is_enabled(main, IDC_IMAGE_DOWNLOAD)) {
      warn("  Cannot open the file.");
      status = exit_failure;
      continue;
    }
    const std::string type = ui::text(main, IDC_IMAGE_TYPE);
    say("  Image Type:   " + type);
    say("  Image Start:  " + ui::text(main, IDC_IMAGE_START));
    say("  Image Length: " + ui::text(main, IDC_IMAGE_LENGTH));
    if (type == "WinCE" && !print_records(path)) status = exit_failure;
  }
  return status;
}

}  // namespace

void add_info_command(CLI::App& app, Globals& globals) {
  auto* cmd = app.add_subcommand(
      "info",
      "Show what the main window shows about files: type, start and length, and the "
      "record table of a Windows CE image");
  static std::vector<std::string> files;
  cmd->add_option("FILE", files, "Image or raw files")->required();
  cmd->footer(
      "Examples:\n"
      "  dividezurirer info nk.bin\n"
      "  dividezurirer info eboot.bin nk.bin\n"
      "Exit status: 0 when every file could be read and every image can be downloaded, 1 "
      "otherwise.");
  cmd->callback([&globals] {
    globals.exit_status =
        run_with_main_window(globals, [](ui::Window main) { return describe_files(main, files); });
  });
}

}  // namespace dz::cli
