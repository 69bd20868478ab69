// The command line every benchmark program shares: --help (or -h) prints what it measures and
// ends; any other argument is refused; none runs it.
#pragma once

#include <cstdio>
#include <cstring>

namespace vrk::bench {

// -1: run the benchmark; otherwise the exit code to end with.
inline int help_or_refuse(int argc, char** argv, const char* usage) {
    if (argc <= 1) return -1;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(usage, stdout);
        return 0;
    }
    std::fprintf(stderr, "%s: unknown argument '%s' (see --help)\n", argv[0], argv[1]);
    return 2;
}

}  // namespace vrk::bench
