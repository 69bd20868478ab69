// Sets or clears an environment variable of the test process, for the cases that check what
// vrk takes from its environment (VRK_DB). POSIX has setenv; Windows only _putenv_s: one file
// per system, chosen by CMake.
#pragma once

#include <optional>
#include <string>

namespace vrk::test {

// `value` nullopt clears the variable.
void set_test_environment(const char* name, const std::optional<std::string>& value);

}  // namespace vrk::test
