// A whole session against a hostile or broken unit, a noisy line, a clock that jumps and a
// person pressing buttons: whatever comes, nothing may read or write outside a buffer, and
// what the program puts on the line must be a message it is allowed to send.
//
// One session lives as long as the process and is restarted before each input: that is
// cheap, and it is the session's own restart, so an input behaves as on a fresh session and a
// crash it finds replays alone.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/session.h"
#include "device/firmware_transfer.h"
#include "fuzz/fuzz_targets.h"
#include "link/frame_codec.h"
#include "link/messages.h"
#include "platform/control_ids.h"
#include "tests/support/fakes.h"

namespace vrk::fuzz {

namespace {

using namespace link::messages;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_dispatcher: %s\n", what);
    std::abort();
}

// Every input starts just over a minute before the 32-bit tick wraps, so the time limits meet
// the wrap as soon as an input waits long enough.
constexpr std::uint32_t START_TICK = 0xFFFF'0000u;
constexpr const char* MACRO_PATH = "/work/images/fuzz.vbm";

Bytes make_image(std::size_t size, std::uint8_t seed) {
    Bytes image(size);
    // Every byte value, the reserved wire values among them, and runs for the run coding.
    for (std::size_t i = 0; i < size; ++i)
        image[i] = (i / 64) % 3 == 0 ? seed : static_cast<std::uint8_t>(i * 7 + seed);
    return image;
}

struct World;

// The length the catalogue gives a message the program sends, or 0 for a type it never sends.
std::size_t sent_length(std::uint8_t type, std::size_t size) {
    switch (type) {
        case ID_MESSAGE:
            return size == ID_MESSAGE_LENGTH ? ID_MESSAGE_LENGTH : REQUEST_LENGTH;
        case VERSION_QUERY:
        case INTERNAL_DEVICE_QUERY:
        case INTERNAL_DEVICE:
        case GPS_TYPE_QUERY:
        case GPS_TYPE:
        case EXTERNAL_DEVICE_QUERY:
        case EXTERNAL_DEVICE:
        case ENTER_QB7_MODE:
        case RUN_APPLICATION:
        case ERASE:
        case ERASE_BLOCKS:
            return REQUEST_LENGTH;
        case PROGRAM_PAGE:
            return PROGRAM_PAGE_LENGTH;
        case PROGRAM_PAGE_WIDE:
            return PROGRAM_PAGE_WIDE_LENGTH;
        case COMPARE_PAGE:
            return COMPARE_PAGE_LENGTH;
        default:
            return 0;
    }
}

// The line: what the unit sends waits in a queue of the driver's size; what the program writes
// is counted (SendCheck sees the messages themselves).
class Line final : public test::FakePort {
  public:
    static constexpr std::size_t QUEUE_SIZE = 1024;

    Recording* recording = nullptr;
    std::size_t written = 0;  // wire bytes, all told

    void start_input() {
        queued_ = 0;
        taken_ = 0;
        lines = platform::ModemLines{true, true};
        events.clear();
    }
    // Bytes from the unit. What the queue cannot take is lost, as in a full driver queue.
    void arrive(std::span<const std::uint8_t> bytes) {
        std::copy(queue_.begin() + static_cast<std::ptrdiff_t>(taken_),
                  queue_.begin() + static_cast<std::ptrdiff_t>(queued_), queue_.begin());
        queued_ -= taken_;
        taken_ = 0;
        const std::size_t n = std::min(bytes.size(), QUEUE_SIZE - queued_);
        std::copy_n(bytes.begin(), n, queue_.begin() + static_cast<std::ptrdiff_t>(queued_));
        queued_ += n;
    }
    platform::ReadResult read(std::span<std::uint8_t> buffer) override {
        const std::size_t n = std::min(buffer.size(), queued_ - taken_);
        std::copy_n(queue_.begin() + static_cast<std::ptrdiff_t>(taken_), n, buffer.begin());
        taken_ += n;
        return {platform::IoStatus::ok, n};
    }
    // The hunt changes the rate every 300 ms; the fake's log of it would cost a text each time.
    bool configure(std::uint32_t) override { return true; }
    bool set_baud_rate(std::uint32_t) override { return true; }
    platform::IoStatus write(std::span<const std::uint8_t> bytes) override {
        if (bytes.size() > link::TX_WRITE_LIMIT) fail("a write longer than 512 bytes");
        written += bytes.size();
        if (recording != nullptr)
            recording->wire.insert(recording->wire.end(), bytes.begin(), bytes.end());
        return platform::IoStatus::ok;
    }
    std::optional<platform::ModemLines> modem_lines() override { return lines; }

  private:
    std::array<std::uint8_t, QUEUE_SIZE> queue_{};
    std::size_t queued_ = 0;
    std::size_t taken_ = 0;
};

// Every message the program sends, seen through the link's own hook (which a restart keeps):
// a message of the catalogue at its exact length, a page request carrying the image's bytes for
// its page, and a frame that reached the port whole.
class SendCheck final : public link::SendHook {
  public:
    World* world = nullptr;
    void before_send(std::span<const std::uint8_t> message) override;
    void after_send(std::span<const std::uint8_t> message,
                    std::span<const std::uint8_t> wire) override;

  private:
    std::size_t written_before_ = 0;
};

// An image read straight from the bytes the folder holds.
class StoredImage final : public platform::InputFile {
  public:
    explicit StoredImage(const Bytes& bytes) : bytes_(bytes) {}
    std::optional<std::uint64_t> size() override { return bytes_.size(); }
    std::optional<std::size_t> read(std::span<std::uint8_t> buffer) override {
        const std::size_t n = std::min(buffer.size(), bytes_.size() - at_);
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(at_), n, buffer.begin());
        at_ += n;
        return n;
    }

  private:
    const Bytes& bytes_;
    std::size_t at_ = 0;
};

// The folder of images. The tests' in-memory file system copies a file whole when it is
// opened; the images here never change, so they are read in place, which spares the wide one's
// 64 KiB copy every time an input starts an operation on it.
class Folder final : public test::MemoryFileSystem {
  public:
    std::unique_ptr<platform::InputFile> open_read(const std::string& path,
                                                   platform::FileError* error) override {
        const auto file = files.find(path);
        if (file == files.end()) {
            if (error != nullptr) *error = platform::FileError::not_found;
            return nullptr;
        }
        if (error != nullptr) *error = platform::FileError::none;
        return std::make_unique<StoredImage>(file->second);
    }
};

struct World {
    Line line;
    SendCheck check;
    test::FakeClock clock;
    Folder files;
    test::FakeHost host;
    std::unique_ptr<app::Session> session;

    World() {
        check.world = this;
        clock.now = START_TICK;
        files.files[std::string(SMALL_IMAGE)] = make_image(SMALL_IMAGE_SIZE, 0x11);
        files.files[std::string(LARGE_IMAGE)] = make_image(LARGE_IMAGE_SIZE, 0xFC);
        session = std::make_unique<app::Session>(line, "/dev/ttyFUZZ",
                                                 app::SessionServices{clock, files, host});
        (void)link::add_send_hook(session->context().link, check);
    }
    platform::ControlsModel& window() { return session->window(); }
};

void SendCheck::before_send(std::span<const std::uint8_t> message) {
    written_before_ = world->line.written;
    if (world->line.recording != nullptr)
        world->line.recording->sent.emplace_back(message.begin(), message.end());
    if (message.size() != sent_length(message[0], message.size()))
        fail("a message the program does not send, or at a wrong length");
    std::size_t header = 0;
    std::uint32_t page = 0;
    switch (message[0]) {
        case PROGRAM_PAGE:
            header = 2;
            page = message[1];
            break;
        case PROGRAM_PAGE_WIDE:
        case COMPARE_PAGE:
            header = 4;
            page = static_cast<std::uint32_t>(message[2] | (message[3] << 8));
            if (message[1] != 0) fail("byte 1 of a wide page request is not 0");
            if (message[0] == PROGRAM_PAGE_WIDE && page < 256) fail("a narrow page sent wide");
            break;
        default:
            return;
    }
    const device::TransferState& transfer = world->session->engine().transfer;
    const auto file = world->files.files.find(transfer.image_name);
    if (file == world->files.files.end()) fail("a page request without an image");
    const Bytes& image = file->second;
    const std::size_t offset = std::size_t{page} * device::PAGE_SIZE;
    if (offset >= image.size()) fail("a page request past the image's end");
    for (std::size_t i = 0; i < device::PAGE_SIZE; ++i) {
        const std::uint8_t expected = offset + i < image.size() ? image[offset + i] : 0xFF;
        if (message[header + i] != expected) fail("a page request with bytes not of its page");
    }
}

void SendCheck::after_send(std::span<const std::uint8_t>, std::span<const std::uint8_t> wire) {
    // No box opens inside a send here, so nothing else was written meanwhile.
    if (world->line.written - written_before_ != wire.size())
        fail("a frame that did not reach the port whole");
    if (wire.size() < 3 || wire.front() != link::FRAME_START || wire.back() != link::FRAME_END)
        fail("a frame not opened and closed");
}

std::uint8_t argument(Input input, std::size_t& at) {
    return at < input.size() ? input[at++] : 0;
}

void choose(platform::ControlsModel& window, int list, std::uint8_t which) {
    const int count = window.item_count(list);
    if (count > 0) window.user_select(list, which % count);
}

void act(World& w, Action action, Input input, std::size_t& at) {
    platform::ControlsModel& window = w.window();
    device::Engine& engine = w.session->engine();
    switch (action) {
        case Action::pick_image:
            choose(window, ids::APPLICATION, argument(input, at));
            break;
        case Action::download:
            window.user_click(ids::DOWNLOAD);
            break;
        case Action::compare:
            window.user_click(ids::COMPARE);
            break;
        case Action::download_verify: {
            // As the command-line tool starts one: never over a running operation.
            const std::string name = window.text(ids::APPLICATION);
            if (!name.empty() && !device::operation_running(engine.transfer))
                device::start_operation(engine, device::OperationKind::download_and_verify, name,
                                        name);
            break;
        }
        case Action::cancel:
            device::cancel_operation(engine);
            break;
        case Action::record:
            w.host.save_answers.assign(1, std::string(MACRO_PATH));
            window.user_click(ids::RECORD);
            break;
        case Action::type_id: {
            const std::uint8_t b = argument(input, at);
            std::string text;
            for (int i = 0; i < (b & 0x0F) % 10; ++i)
                text += static_cast<char>((i % 2 == 0 ? 'a' : '0') + ((b >> 4) + i) % 10);
            window.user_type_text(ids::UNIT_ID, text);
            break;
        }
        case Action::send_id:
            window.user_click(ids::SEND_ID);
            break;
        case Action::choose_internal:
            choose(window, ids::INTERNAL_DEVICE, argument(input, at));
            break;
        case Action::choose_external:
            choose(window, ids::EXTERNAL_DEVICE, argument(input, at));
            break;
        case Action::choose_gps:
            choose(window, ids::GPS_TYPE, argument(input, at));
            break;
        case Action::qb7_mode:
            window.user_click(ids::QB7_MODE);
            break;
        case Action::run_application:
            window.user_click(ids::RUN_APPLICATION);
            break;
        case Action::answer_yes:
            w.host.answers.assign(1, platform::MessageAnswer::yes);
            break;
        case Action::cable_out:
            w.line.lines = platform::ModemLines{false, false};
            break;
        case Action::cable_in:
        case Action::count:
            w.line.lines = platform::ModemLines{true, true};
            break;
    }
}

// Puts the world back to a fresh session for the next input. Done after each input rather than
// before: what an input allocated is then freed within it, and libFuzzer, which takes an input
// that leaves more allocations than it found for a leak to look for, stays quiet.
void start_over(World& w) {
    w.line.start_input();
    w.host.boxes.clear();
    w.host.answers.clear();
    w.host.save_requests.clear();
    w.host.save_answers.clear();
    w.clock.now = START_TICK;
    w.session->restart();
}

World& world() {
    static World w;
    return w;
}

void run(World& w, Input input) {
    std::size_t at = 0;
    // A Yes to the exit question ends the window, and with it the program.
    while (at < input.size() && !w.window().ended()) {
        const std::uint8_t op = input[at++];
        const std::size_t arg = op & step::ARG_MASK;
        switch (op & step::KIND_MASK) {
            case step::MESSAGE: {
                const auto message = input.subspan(at, std::min(arg + 1, input.size() - at));
                at += message.size();
                std::array<std::uint8_t, link::max_frame_size(step::MAX_STEP_BYTES)> wire{};
                w.line.arrive(std::span(wire).first(link::encode_frame(message, wire)));
                w.session->tick();
                break;
            }
            case step::WAIT:
                w.clock.advance(static_cast<std::uint32_t>(arg) * step::WAIT_UNIT_MS);
                w.session->tick();
                break;
            case step::ACTION:
                act(w, static_cast<Action>(arg % static_cast<std::size_t>(Action::count)), input,
                    at);
                break;
            default: {  // step::RAW
                const auto bytes = input.subspan(at, std::min(arg + 1, input.size() - at));
                at += bytes.size();
                w.line.arrive(bytes);
                w.session->tick();
                break;
            }
        }
    }
}

}  // namespace

void dispatcher_input(Input input) {
    World& w = world();
    run(w, input);
    start_over(w);
}

void record_dispatcher_input(Input input, Recording& recording) {
    World& w = world();
    w.line.recording = &recording;
    // Started over once more with the recording on, so that it holds the first probe.
    start_over(w);
    run(w, input);
    w.line.recording = nullptr;
    start_over(w);
}

}  // namespace vrk::fuzz
