// vrk-make-demo-image PATH: writes the demo firmware image, as vrk-sim --make-demo-image does, on
// the machine a cross build runs on.
#include <cstdio>
#include <string>

#include "sim/demo_image.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: vrk-make-demo-image PATH\n", stderr);
        return 2;
    }
    std::string error;
    if (!vrk::sim::write_demo_image(argv[1], &error)) {
        std::fprintf(stderr, "vrk-make-demo-image: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
