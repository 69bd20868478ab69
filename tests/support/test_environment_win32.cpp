#include <cstdlib>

#include "tests/support/test_environment.h"

namespace vrk::test {

void set_test_environment(const char* name, const std::optional<std::string>& value) {
    // An empty value removes the variable from the process's environment.
    (void)::_putenv_s(name, value ? value->c_str() : "");
}

}  // namespace vrk::test
