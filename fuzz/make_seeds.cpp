// Writes the fuzz targets' seed inputs: vrk_fuzz_seeds FOLDER writes FOLDER/<target>/seed-*.
// scripts/fuzz seeds runs it over fuzz/corpus; what runs find new sits beside the seeds under
// the names libFuzzer gives it.
//
// The frame codec starts from its tests' literal vectors, a frame of every message type at its
// exact length, and the wire of a download recorded from the program. The session starts from
// conversations recorded from the program itself: every request it sent answered as a unit
// answers, step after step, until it sends nothing new.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_targets.h"
#include "link/frame_codec.h"
#include "link/messages.h"
#include "tests/link/codec_vectors.h"

namespace vrk::fuzz {
namespace {

namespace fs = std::filesystem;
using namespace link::messages;

// The application list is sorted: SMALL.vr4 comes before WIDE.vr4.
constexpr std::uint8_t SMALL_ITEM = 0;
constexpr std::uint8_t WIDE_ITEM = 1;

fs::path out_root;
int written = 0;

void save(const char* target, const std::string& name, const Bytes& input) {
    const fs::path folder = out_root / target;
    fs::create_directories(folder);
    std::ofstream out(folder / ("seed-" + name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(input.data()),
              static_cast<std::streamsize>(input.size()));
    if (!out) {
        std::fprintf(stderr, "vrk_fuzz_seeds: cannot write %s\n", (folder / name).c_str());
        std::exit(1);
    }
    ++written;
}

std::string slug(const char* text) {
    std::string out;
    for (const char* c = text; *c != '\0'; ++c) {
        const char lower = (*c >= 'A' && *c <= 'Z') ? static_cast<char>(*c - 'A' + 'a') : *c;
        if ((lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9'))
            out += lower;
        else if (!out.empty() && out.back() != '-')
            out += '-';
    }
    while (!out.empty() && out.back() == '-') out.pop_back();
    return out;
}

Bytes frame(const Bytes& message) {
    Bytes wire(link::max_frame_size(message.size()));
    wire.resize(link::encode_frame(message, wire));
    return wire;
}

Bytes page_request(std::uint8_t type, std::uint16_t page, std::uint8_t fill) {
    Bytes m = type == PROGRAM_PAGE ? Bytes{type, static_cast<std::uint8_t>(page)}
                                   : Bytes{type, 0x00, static_cast<std::uint8_t>(page & 0xFF),
                                           static_cast<std::uint8_t>(page >> 8)};
    for (std::size_t i = 0; i < PAGE_SIZE; ++i)
        m.push_back(i < 100 ? static_cast<std::uint8_t>(i * 37 + fill) : fill);
    return m;
}

// A message of every type at its exact length, both ways.
std::vector<std::pair<std::string, Bytes>> every_message() {
    return {
        {"announce", {ANNOUNCE, 0x00}},
        {"version-query", {VERSION_QUERY, NO_PARAMETER}},
        {"version-report-8", {VERSION_REPORT, 0x28, 0xD7, 0x00, 0x39, 0x30, 0x00, 0x00}},
        {"version-report-12",
         {VERSION_REPORT, 0x28, 0xD7, 0x00, 0x39, 0x30, 0x00, 0x00, 0x00, 0x24, 0xF4, 0x00}},
        {"id-query", {ID_MESSAGE, 0x00}},
        {"id-report", {ID_MESSAGE, 'V', 'R', 'K', '0', '0', '0', '0', '1', 0x00}},
        {"internal-device-query", {INTERNAL_DEVICE_QUERY, NO_PARAMETER}},
        {"internal-device", {INTERNAL_DEVICE, 0x04}},
        {"gps-type-query", {GPS_TYPE_QUERY, NO_PARAMETER}},
        {"gps-type", {GPS_TYPE, 0x01}},
        {"external-device-query", {EXTERNAL_DEVICE_QUERY, NO_PARAMETER}},
        {"external-device", {EXTERNAL_DEVICE, 0x02}},
        {"enter-qb7-mode", {ENTER_QB7_MODE, NO_PARAMETER}},
        {"qb7-mode-report", {QB7_MODE_REPORT, 0x00}},
        {"run-application", {RUN_APPLICATION, NO_PARAMETER}},
        {"application-running", {APPLICATION_RUNNING, 0x00}},
        {"erase", {ERASE, 0x00}},
        {"erase-done", {ERASE_DONE, 0x00}},
        {"program-page", page_request(PROGRAM_PAGE, 2, 0xFF)},
        {"page-programmed", {PAGE_PROGRAMMED, 0x02}},
        {"erase-blocks", {ERASE_BLOCKS, 0x02}},
        {"program-page-wide", page_request(PROGRAM_PAGE_WIDE, 256, 0xFC)},
        {"page-programmed-wide", {PAGE_PROGRAMMED_WIDE, 0x00, 0x00, 0x01}},
        {"compare-page", page_request(COMPARE_PAGE, 1, 0x41)},
        {"page-compared", {PAGE_COMPARED, 0x01, 0x01, 0x00}},
    };
}

// The unit's answer to a request, or nothing. `matching` says how compares come out.
Bytes answer(const Bytes& r, bool matching) {
    switch (r[0]) {
        case ID_MESSAGE:
            if (r.size() == ID_MESSAGE_LENGTH) return r;  // the ID it took
            return {ID_MESSAGE, 'V', 'R', 'K', '0', '0', '0', '0', '1', 0x00};
        case VERSION_QUERY:
            return {VERSION_REPORT, 0x28, 0xD7, 0x00, 0x39, 0x30,
                    0x00,           0x00, 0x00, 0x24, 0xF4, 0x00};
        case GPS_TYPE_QUERY:
            return {GPS_TYPE, 0x01};
        case INTERNAL_DEVICE_QUERY:
            return {INTERNAL_DEVICE, 0x04};
        case EXTERNAL_DEVICE_QUERY:
            return {EXTERNAL_DEVICE, 0x02};
        case GPS_TYPE:
        case INTERNAL_DEVICE:
        case EXTERNAL_DEVICE:
            return r;  // the setting it took
        case ENTER_QB7_MODE:
            return {QB7_MODE_REPORT, 0x00};
        case RUN_APPLICATION:
            return {APPLICATION_RUNNING, 0x00};
        case ERASE:
        case ERASE_BLOCKS:
            return {ERASE_DONE, 0x00};
        case PROGRAM_PAGE:
            return {PAGE_PROGRAMMED, r[1]};
        case PROGRAM_PAGE_WIDE:
            return {PAGE_PROGRAMMED_WIDE, 0x00, r[2], r[3]};
        case COMPARE_PAGE:
            return {PAGE_COMPARED, static_cast<std::uint8_t>(matching ? 1 : 0), r[2], r[3]};
        default:
            return {};
    }
}

Recording record(const Bytes& input) {
    Recording recording;
    record_dispatcher_input(input, recording);
    return recording;
}

// Lets the program and the unit talk: runs the input, answers every request it sent past the
// first `answered` (those the input answers already), and again, until the program sends
// nothing new or `most` answers have been given. Returns the input with the answers as steps.
Bytes converse(Bytes input, std::size_t answered, std::size_t most = 40, bool matching = true) {
    std::size_t given = 0;
    for (;;) {
        const Recording recording = record(input);
        bool added = false;
        for (std::size_t i = answered; i < recording.sent.size() && given < most; ++i) {
            const Bytes reply = answer(recording.sent[i], matching);
            if (reply.empty()) continue;
            add_message(input, reply);
            added = true;
            ++given;
        }
        answered = recording.sent.size();
        if (!added) return input;
    }
}

// The same after the steps that `steps` appends to `start`, which is answered already.
Bytes converse_after(const Bytes& start, const std::function<void(Bytes&)>& steps,
                     std::size_t most = 40, bool matching = true) {
    Bytes input = start;
    steps(input);
    return converse(input, record(start).sent.size(), most, matching);
}

void decoder_seeds() {
    for (const test::Vector& v : test::vectors())
        save("fuzz_decoder", "vector-" + slug(v.name), v.wire);
    for (const test::DecodeCase& c : test::decode_cases())
        save("fuzz_decoder", "decode-" + slug(c.name), c.wire);
    for (const auto& [name, message] : every_message())
        save("fuzz_decoder", "message-" + name, frame(message));

    // A download recorded on the line, both ways: each page request as the program framed it,
    // and the unit's answers one after another.
    const Bytes download = converse_after(converse({}, 0), [](Bytes& in) {
        add_action(in, Action::pick_image, SMALL_ITEM);
        add_action(in, Action::download);
    });
    Bytes replies;
    for (const Bytes& request : record(download).sent) {
        if (request[0] == PROGRAM_PAGE)
            save("fuzz_decoder", "download-request-" + std::to_string(request[1]), frame(request));
        const Bytes reply = answer(request, true);
        if (reply.empty()) continue;
        const Bytes wire = frame(reply);
        replies.insert(replies.end(), wire.begin(), wire.end());
    }
    save("fuzz_decoder", "download-replies", replies);
}

void dispatcher_seeds() {
    const char* target = "fuzz_dispatcher";
    // A unit that answers the probe and the queries: the start of most seeds.
    const Bytes linked = converse({}, 0);
    save(target, "link-up", linked);
    for (const auto& [name, message] : every_message()) {
        Bytes input;
        add_message(input, message);
        save(target, "message-" + name, input);
    }

    const auto operation = [&](const char* name, std::uint8_t image, Action start, std::size_t most,
                               bool matching) {
        save(target, name,
             converse_after(
                 linked,
                 [&](Bytes& in) {
                     add_action(in, Action::pick_image, image);
                     add_action(in, start);
                 },
                 most, matching));
    };
    operation("download-small", SMALL_ITEM, Action::download, 40, true);
    operation("download-verify-small", SMALL_ITEM, Action::download_verify, 40, true);
    operation("compare-small", SMALL_ITEM, Action::compare, 40, true);
    operation("compare-mismatch", SMALL_ITEM, Action::compare, 40, false);
    // The erase in blocks, the wide pages and the step down to the narrow ones.
    operation("download-wide-start", WIDE_ITEM, Action::download, 4, true);
    operation("compare-wide-start", WIDE_ITEM, Action::compare, 3, true);

    Bytes recorded = converse_after(linked, [](Bytes& in) {
        add_action(in, Action::record);
        add_action(in, Action::pick_image, SMALL_ITEM);
        add_action(in, Action::download);
    });
    add_action(recorded, Action::record);
    save(target, "record-download", recorded);

    // The page retry after 2 s and the end after 30 s without progress.
    Bytes silent = converse_after(
        linked,
        [](Bytes& in) {
            add_action(in, Action::pick_image, SMALL_ITEM);
            add_action(in, Action::download);
        },
        2);
    add_wait(silent, 2'250);
    add_wait(silent, 31'000);
    save(target, "download-times-out", silent);

    save(target, "settings-changed", converse_after(linked, [](Bytes& in) {
             add_action(in, Action::choose_internal, 5);
             add_action(in, Action::choose_external, 7);
             add_action(in, Action::choose_gps, 2);
             add_action(in, Action::type_id, 0x37);
             add_action(in, Action::send_id);
         }));
    save(target, "qb7-mode",
         converse_after(linked, [](Bytes& in) { add_action(in, Action::qb7_mode); }));
    save(target, "application-running-exit", converse_after(linked, [](Bytes& in) {
             add_action(in, Action::answer_yes);
             add_action(in, Action::run_application);
         }));

    Bytes cable = converse_after(
        linked,
        [](Bytes& in) {
            add_action(in, Action::pick_image, SMALL_ITEM);
            add_action(in, Action::download);
        },
        2);
    add_action(cable, Action::cable_out);
    add_wait(cable, 100);
    add_action(cable, Action::cable_in);
    add_wait(cable, 1'000);  // the hunt again
    save(target, "cable-pulled-mid-download", cable);

    // Line noise between frames and inside one, then a frame that still gets through.
    Bytes noise;
    add_raw(noise, Bytes{0x30, 0xFD, 0xFC, 0x41, 0xFE, 0xFF, 0x0B, 0xFD, 0x41, 0xFF, 0xFC});
    add_message(noise, Bytes{ID_MESSAGE, 'V', 'R', 'K', '0', '0', '0', '0', '1', 0x00});
    save(target, "noise-then-report", noise);
}

// Recipe files as a station writes them (and the mistakes people make in them), ID templates
// and fixed IDs; the first byte says which (see recipe_input).
void recipe_seeds() {
    const char* target = "fuzz_recipe";
    const auto text = [](std::uint8_t selector, std::string_view body) {
        Bytes input{selector};
        input.insert(input.end(), body.begin(), body.end());
        return input;
    };
    constexpr std::uint8_t RECIPE = 0, TEMPLATE_AT_STATION_3 = 1 + 3 * 3, TEMPLATE = 0x55,
                           FIXED_ID = 2;
    const std::pair<const char*, const char*> recipes[] = {
        {"full",
         "# line 1, station A\n"
         "image = \"firmware/app-2.16.vr4\"\n"
         "image_sha256 = \"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08\"\n"
         "verify = true\n"
         "id_format = \"L{station}{:05}\"\n"
         "id_start = 1\n"
         "then = \"run\"\n\n"
         "[settings]\n"
         "gps = \"SiRF\"\n"
         "internal = 1\n"
         "external = \"Computer\"\n\n"
         "[checks]\n"
         "flash_type = 40\n"
         "min_version = \"2.15\"\n"},
        {"fixed-id", "image = 'app.vr4'\nid = \"UNIT0001\"\nverify = false\nthen = 'qb7'\n"},
        {"inline-tables",
         "image = \"app.vr4\"\nsettings = { gps = 0, internal = 0x01 }\nchecks = { "
         "flash_type = 0x28 }\n"},
        {"unknown-key", "image = \"app.vr4\"\nspeed = 115200\n"},
        {"wrong-type", "image = \"app.vr4\"\nverify = \"yes\"\n"},
        {"settings-not-a-table", "image = \"app.vr4\"\nsettings = \"SiRF\"\n"},
        {"broken-toml", "image = \"app.vr4\n[settings\ngps = \n"},
        {"dotted-and-arrays", "settings.gps = [1, 2]\n[[checks]]\nflash_type = 1\n"},
    };
    for (const auto& [name, body] : recipes)
        save(target, std::string("recipe-") + name, text(RECIPE, body));
    const std::pair<const char*, std::uint8_t> templates[] = {
        {"L1{:05}", TEMPLATE}, {"S{station}-{:04}", TEMPLATE_AT_STATION_3},
        {"U{}", TEMPLATE},     {"{{X}}{:02}", TEMPLATE},
        {"ab{:08}", TEMPLATE}, {"{station}{}", TEMPLATE},
        {"L{:3}", TEMPLATE},   {"{}{}", TEMPLATE},
    };
    int n = 0;
    for (const auto& [body, selector] : templates)
        save(target, "template-" + std::to_string(n++), text(selector, body));
    for (const char* id : {"VRK00042", "vrk-1", "TOO-LONG-ID", "TWO WORDS", ""})
        save(target, std::string("fixed-id-") + (*id ? slug(id) : "empty"), text(FIXED_ID, id));
}

}  // namespace
}  // namespace vrk::fuzz

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vrk_fuzz_seeds FOLDER\n");
        return 2;
    }
    vrk::fuzz::out_root = argv[1];
    vrk::fuzz::decoder_seeds();
    vrk::fuzz::dispatcher_seeds();
    vrk::fuzz::recipe_seeds();
    std::printf("%d seeds written under %s\n", vrk::fuzz::written, argv[1]);
    return 0;
}
