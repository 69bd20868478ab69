// Recipe files on a build without a TOML library (the Windows build, which has no station
// database either: vrk program says so before it would read one).
#include "app/cli/station/recipe.h"

namespace vrk::cli {

std::optional<RecipeFile> parse_recipe_file(std::string_view, const std::string& name,
                                            std::string* error) {
    *error = name + ": this build of vrk reads no recipe files";
    return std::nullopt;
}

}  // namespace vrk::cli
