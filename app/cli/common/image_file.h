// Whether an image file can be downloaded at all, before any port is opened, and why not in
// words: the same check a transfer makes as it loads the image. vrk download and compare make
// it at start, vrk program for its recipe's image.
#pragma once

#include <string>

#include "app/cli/common/results.h"
#include "platform/files.h"

namespace vrk::cli {

// Result::success, or file_not_found, file_unreadable, file_empty or file_too_large.
[[nodiscard]] Result check_image(platform::FileSystem& files, const std::string& path);
// Why an image cannot be downloaded, to follow its name: "does not exist", "is empty", ...
[[nodiscard]] std::string image_problem(Result result);

}  // namespace vrk::cli
