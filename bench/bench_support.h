// What the benchmarks that run a session or the command-line tool share: a host that answers
// every question without a person, a scratch folder of their own that goes when they end, and
// the simulated unit's demo image written to a file.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/host_services.h"
#include "sim/demo_image.h"

namespace vrk::bench {

// No one sits at a benchmark: yes/no questions are answered no (nothing is overwritten or
// cleared), everything else ok; beeps are silent and no file is chosen.
class QuietHost final : public platform::HostServices {
  public:
    platform::MessageAnswer message_box(const std::string&, const std::string&,
                                        platform::MessageButtons buttons,
                                        platform::MessageIcon) override {
        return buttons == platform::MessageButtons::yes_no ? platform::MessageAnswer::no
                                                           : platform::MessageAnswer::ok;
    }
    void beep() override {}
    std::optional<std::string> save_file_dialog(const platform::SaveFileRequest&) override {
        return std::nullopt;
    }
};

// A folder in the temporary folder named after the benchmark and its process, removed with
// everything in it at the end. Entered, it is also the working folder for as long as it lives
// (a session opens the image and writes its files relative to it).
class ScratchDir {
  public:
    enum class Enter { no, yes };

    explicit ScratchDir(const std::string& prefix, Enter enter = Enter::no)
        : path_(std::filesystem::temp_directory_path() /
                (prefix + "-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(path_);
        if (enter == Enter::yes) {
            previous_ = std::filesystem::current_path();
            std::filesystem::current_path(path_);
        }
    }
    ~ScratchDir() {
        std::error_code ec;
        if (previous_) std::filesystem::current_path(*previous_, ec);
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    std::optional<std::filesystem::path> previous_;
};

// The demo image of SIZE bytes (SEED picks its contents) written to FILE; its bytes, for a
// benchmark that checks the flash against them.
inline std::vector<std::uint8_t> write_demo_image(const std::filesystem::path& file,
                                                  std::size_t size, std::uint64_t seed) {
    auto image = sim::make_demo_image(size, seed);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    return image;
}

}  // namespace vrk::bench
