// How fast the transfer engine itself runs, with the line and the unit taken out: a whole
// download of a 1 MiB image against a loader that acknowledges each page at once, through a
// port that throws the framed bytes away. Prints pages per second and heap allocations per
// page; a page must cost no allocation (the request and its text reuse storage that lasts the
// whole run), which is why this program counts every operator new.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/session.h"
#include "bench/bench_help.h"
#include "device/firmware_transfer.h"
#include "device/macro_recorder.h"
#include "link/messages.h"
#include "platform/control_ids.h"
#include "platform/controls_model.h"

namespace {

std::atomic<std::size_t> allocations{0};

}  // namespace

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using namespace vrk;

constexpr std::size_t IMAGE_SIZE = 1 << 20;
constexpr int RUNS = 20;
const std::string IMAGE_NAME = "BENCH.vr4";

class NullPort final : public platform::SerialPort {
  public:
    std::size_t bytes = 0;
    bool configure(std::uint32_t) override { return true; }
    bool set_baud_rate(std::uint32_t) override { return true; }
    platform::ReadResult read(std::span<std::uint8_t>) override { return {}; }
    platform::IoStatus write(std::span<const std::uint8_t> data) override {
        bytes += data.size();
        return platform::IoStatus::ok;
    }
    std::optional<platform::ModemLines> modem_lines() override {
        return platform::ModemLines{true, true};
    }
    bool set_dtr_rts(bool) override { return true; }
    void close() override {}
};

class StillClock final : public platform::TickClock {
  public:
    std::uint32_t now = 1000;
    std::uint32_t tick_ms() override { return now; }
    void sleep_ms(std::uint32_t ms) override { now += ms; }
};

class NullHost final : public platform::HostServices {
  public:
    platform::MessageAnswer message_box(const std::string&, const std::string&,
                                        platform::MessageButtons, platform::MessageIcon) override {
        return platform::MessageAnswer::ok;
    }
    void beep() override {}
    std::optional<std::string> save_file_dialog(const platform::SaveFileRequest& request) override {
        return request.initial_path;
    }
};

class Image final : public platform::InputFile {
  public:
    explicit Image(const std::vector<std::uint8_t>& data) : data_(data) {}
    std::optional<std::uint64_t> size() override { return data_.size(); }
    std::optional<std::size_t> read(std::span<std::uint8_t> buffer) override {
        const std::size_t n = std::min(buffer.size(), data_.size() - pos_);
        std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(pos_), n, buffer.begin());
        pos_ += n;
        return n;
    }

  private:
    const std::vector<std::uint8_t>& data_;
    std::size_t pos_ = 0;
};

class NullOutput final : public platform::OutputFile {
  public:
    bool write(std::span<const std::uint8_t>) override { return true; }
    bool close() override { return true; }
};

class OneImage final : public platform::FileSystem {
  public:
    std::vector<std::uint8_t> content;
    std::string current_directory() override { return "/bench"; }
    bool change_directory(const std::string&) override { return false; }
    char separator() const override { return '/'; }
    std::vector<std::string> find_files(const std::string&) override { return {IMAGE_NAME}; }
    std::unique_ptr<platform::InputFile> open_read(const std::string& path,
                                                   platform::FileError* error) override {
        if (path != IMAGE_NAME) {
            if (error) *error = platform::FileError::not_found;
            return nullptr;
        }
        return std::make_unique<Image>(content);
    }
    std::unique_ptr<platform::OutputFile> create(const std::string&,
                                                 platform::FileError*) override {
        return std::make_unique<NullOutput>();
    }
};

struct Figures {
    std::size_t pages = 0;
    std::size_t page_allocations = 0;  // while pages were acknowledged and sent
    double seconds = 0;
    std::size_t wire_bytes = 0;
};

// One download, answered instantly: every acknowledgement names the page just sent.
Figures run_download(device::Engine& engine, NullPort& port) {
    namespace msg = link::messages;
    Figures f;
    device::start_download(engine);
    const std::uint8_t erased[2] = {msg::ERASE_DONE, 0x00};
    device::on_transfer_reply(engine, erased);
    const auto& request = engine.transfer.page_message;
    const auto t0 = std::chrono::steady_clock::now();
    const std::size_t before = allocations.load();
    while (device::operation_running(engine.transfer) && engine.transfer.current_page > 0) {
        ++f.pages;
        if (request[0] == msg::PROGRAM_PAGE_WIDE) {
            const std::uint8_t ack[4] = {msg::PAGE_PROGRAMMED_WIDE, 0x00, request[2], request[3]};
            device::on_transfer_reply(engine, ack);
        } else {
            const std::uint8_t ack[2] = {msg::PAGE_PROGRAMMED, request[1]};
            device::on_transfer_reply(engine, ack);
        }
    }
    f.page_allocations = allocations.load() - before;
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // Page 0's acknowledgement ends the download (its result text is built once, not per page).
    const std::uint8_t last[2] = {msg::PAGE_PROGRAMMED, 0x00};
    device::on_transfer_reply(engine, last);
    ++f.pages;
    f.wire_bytes = port.bytes;
    return f;
}

void report(const char* title, bool recording) {
    NullPort port;
    StillClock clock;
    OneImage files;
    NullHost host;
    files.content.resize(IMAGE_SIZE);
    for (std::size_t i = 0; i < IMAGE_SIZE; ++i)
        files.content[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));

    // The session as the window runs it, status line and progress bar included.
    app::Session session(port, "bench", {clock, files, host});
    device::Engine& engine = session.engine();
    platform::ControlsModel& window = session.window();
    window.set_selection(ids::APPLICATION, 0);
    window.set_checked(ids::VERIFY, false);  // the programming pass is what is measured
    if (recording) device::toggle_recording(engine);

    std::size_t pages = 0;
    std::size_t page_allocations = 0;
    std::size_t wire = 0;
    double seconds = 0;
    for (int run = 0; run < RUNS; ++run) {
        port.bytes = 0;
        const Figures f = run_download(engine, port);
        if (window.text(ids::STATUS) != IMAGE_NAME + " has been downloaded successfully") {
            std::printf("download did not complete: %s\n", window.text(ids::STATUS).c_str());
            std::exit(1);
        }
        pages += f.pages;
        page_allocations += f.page_allocations;
        seconds += f.seconds;
        wire += f.wire_bytes;
    }
    if (recording) device::toggle_recording(engine);
    std::printf("%s\n", title);
    std::printf("  image %zu bytes, %d downloads, %zu pages each\n", IMAGE_SIZE, RUNS,
                pages / RUNS);
    std::printf("  pages per second      %.0f\n", static_cast<double>(pages) / seconds);
    std::printf("  image MiB per second  %.1f\n",
                static_cast<double>(pages) * 256.0 / (1 << 20) / seconds);
    std::printf("  wire bytes per page   %.1f\n",
                static_cast<double>(wire) / static_cast<double>(pages));
    std::printf("  allocations per page  %.4f (%zu in %zu pages)\n",
                static_cast<double>(page_allocations) / static_cast<double>(pages),
                page_allocations, pages);
}

}  // namespace

int main(int argc, char** argv) {
    if (const int code = vrk::bench::help_or_refuse(
            argc, argv,
            "usage: transfer_bench\n"
            "Runs a whole 1 MiB download through the transfer engine against a loader that\n"
            "answers at once, and prints pages per second and heap allocations per page.\n");
        code >= 0)
        return code;
    report("download, not recording", false);
    report("download, recording to a discarding macro file", true);
    return 0;
}
