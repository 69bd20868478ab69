#include <cstdlib>

#include "tests/support/test_environment.h"

namespace vrk::test {

void set_test_environment(const char* name, const std::optional<std::string>& value) {
    if (value)
        ::setenv(name, value->c_str(), 1);
    else
        ::unsetenv(name);
}

}  // namespace vrk::test
