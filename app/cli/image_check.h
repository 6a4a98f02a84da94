#pragma once
// Whether a Windows CE image can be downloaded at all, told before anything is started.
#include <string>

namespace dz::cli {

// "" when the record table of the image at `path` reads through to its terminator; otherwise why
// not, in a few words.
std::string image_problem(const std::string& path);

}  // namespace dz::cli
