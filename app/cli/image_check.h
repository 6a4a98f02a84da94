#pragma once
// Whether a Windows CE image can be downloaded at all, told before anything is started.
#include <string>

namespace dz::cli {

// "" when the job would accept the image at `path` for a section-wise download (check_image_file
// over the range its header gives); otherwise why not, in a few words.
std::string image_problem(const std::string& path);

}  // namespace dz::cli
