#include "sim/demo_image.h"

#include <fstream>

#include "sim/unit_model.h"

namespace vrk::sim {

std::vector<std::uint8_t> make_demo_image(std::size_t size, std::uint64_t seed) {
    std::vector<std::uint8_t> image(size);
    FaultSource numbers(seed);
    for (std::size_t i = 0; i < size; i += 8) {
        std::uint64_t v = numbers.next();
        for (std::size_t j = i; j < size && j < i + 8; ++j, v >>= 8)
            image[j] = static_cast<std::uint8_t>(v);
    }
    if (!image.empty() && image.back() == ERASED) image.back() = 0x5A;
    return image;
}

bool write_demo_image(const std::string& path, std::string* error, std::size_t size) {
    const auto image = make_demo_image(size);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out)
        out.write(reinterpret_cast<const char*>(image.data()),
                  static_cast<std::streamsize>(image.size()));
    if (out) out.close();
    if (!out) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace vrk::sim
