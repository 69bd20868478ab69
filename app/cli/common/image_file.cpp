#include "app/cli/common/image_file.h"

#include "app/session_commands.h"

namespace vrk::cli {

Result check_image(platform::FileSystem& files, const std::string& path) {
    return result_of(app::check_image(files, path));
}

std::string image_problem(Result result) {
    switch (result) {
        case Result::file_not_found:
            return "does not exist";
        case Result::file_empty:
            return "is empty";
        case Result::file_too_large:
            return "is too large (at most " + std::to_string(app::max_image_size() >> 20) + " MiB)";
        default:
            break;
    }
    return "cannot be read";
}

}  // namespace vrk::cli
