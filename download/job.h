#pragma once
// The download job: device detection, then the Download dialog whose thread opens the interface,
// erases, transfers (whole-file streaming or section-wise with verify) and closes.
#include <cstdint>
#include <string>

#include "platform/ui.h"

namespace dz {

struct DownloadJob {
  int selected_interface = 0;
  std::string image_path;  // at most 260 characters
  int is_raw = 0;
  std::uint32_t image_start = 0;
  std::uint32_t image_length = 0;
  int is_bootloader = 0;
};

// Runs one job; returns the Download dialog's result (1 success or abort, 0 failure), or 0 when
// detection was aborted or failed.
int start_download_job(ui::Window owner, int interface_index, const std::string& path, int is_raw,
                       std::uint32_t start, std::uint32_t length, int is_bootloader);

// The parameters of the running (or last) job.
const DownloadJob& current_job();

}  // namespace dz
