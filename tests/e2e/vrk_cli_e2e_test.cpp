// The command-line tool as a script runs it: the real vrk program, started as a process, against
// simulated units on pseudo-terminals. Each case checks the exit code, every line of the JSON
// output (each must parse) and what the units hold afterwards.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sha256.h"
#include "sim/demo_image.h"
#include "sim/simulator.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/macro_reader.h"
#include "tests/support/subprocess.h"

namespace vrk::test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using namespace std::chrono_literals;

// What the test does to the units while the program runs.
enum class Act {
    none,
    silent_unit,       // the unit never answers
    interrupt_midway,  // Ctrl+C once a few pages are done
    next_unit,         // the unit leaves after its result and another takes its place
};

enum class Flash {
    untouched,  // as before the run
    image,      // holds the image, erased beyond it
    not_image,  // differs from the image somewhere
};

struct CliCase {
    std::string name;
    std::vector<std::string> args = {};  // "{image}" stands for the image's path
    std::size_t image_size = 0;          // 0: no image file
    int units = 1;
    std::function<void(sim::UnitConfig&)> unit = {};
    Act act = Act::none;
    int exit_code = 0;
    std::string result = {};  // of every "finished" object
    Flash flash = Flash::untouched;
    // Further checks on the objects of the run.
    std::function<void(const std::vector<Json>&, std::vector<std::unique_ptr<sim::Simulator>>&)>
        also = {};
};

// Test names show the case's name, not its bytes.
void PrintTo(const CliCase& c, std::ostream* out) {
    *out << c.name;
}

const std::vector<CliCase>& cases() {
    static const std::vector<CliCase> table = {
        {.name = "info",
         .args = {"info"},
         .result = "success",
         .also =
             [](const std::vector<Json>& objects, auto&) {
                 const auto units = of_event(objects, "unit");
                 ASSERT_EQ(units.size(), 1u);
                 EXPECT_EQ(units[0]["id"], "VRK00042");
                 EXPECT_EQ(units[0]["serial_number"], 70012);
                 EXPECT_EQ(units[0]["version"], "2.15");
                 EXPECT_EQ(units[0]["crystal"], "14.7456 MHz");
                 EXPECT_EQ(units[0]["external"]["text"], "Computer");
             }},
        {.name = "download_and_verify",
         .args = {"download", "{image}"},
         .image_size = 70'000,
         .result = "success",
         .flash = Flash::image,
         .also =
             [](const std::vector<Json>& objects, auto&) {
                 const auto finished = of_event(objects, "finished").at(0);
                 EXPECT_EQ(finished["operation"], "download_and_verify");
                 EXPECT_EQ(finished["image_size"], 70'000);
                 EXPECT_EQ(finished["image_sha256"],
                           platform::sha256_hex(sim::make_demo_image(70'000, 3)));
                 EXPECT_EQ(finished["id"], "VRK00042");
                 EXPECT_EQ(finished["serial_number"], 70012);
                 EXPECT_EQ(finished["pages_done"], 274);
             }},
        {.name = "verify_finds_a_byte_the_flash_lost",
         .args = {"download", "{image}"},
         .image_size = 70'000,
         .unit = [](sim::UnitConfig& u) { u.flip_byte = 1000; },
         .exit_code = 1,
         .result = "mismatch",
         .flash = Flash::not_image,
         .also =
             [](const std::vector<Json>& objects, auto&) {
                 bool verified = false;
                 for (const auto& p : of_event(objects, "progress"))
                     verified = verified || p["phase"] == "verifying";
                 EXPECT_TRUE(verified);
             }},
        {.name = "download_without_verify",
         .args = {"download", "{image}", "--no-verify"},
         .image_size = 3000,
         .result = "success",
         .flash = Flash::image,
         .also =
             [](const std::vector<Json>& objects, auto&) {
                 EXPECT_EQ(of_event(objects, "finished").at(0)["operation"], "download");
             }},
        // A page request takes 2.2 s to leave at 1200 baud: the retry counts from its
        // departure, so a healthy unit costs none.
        {.name = "download_at_1200_baud_with_line_time",
         .args = {"download", "{image}"},
         .image_size = 1024,
         .unit =
             [](sim::UnitConfig& u) {
                 u.baud = 1200;
                 u.line_time = true;
             },
         .result = "success",
         .flash = Flash::image,
         .also =
             [](const std::vector<Json>& objects, auto&) {
                 EXPECT_TRUE(of_event(objects, "page_retried").empty());
                 EXPECT_EQ(of_event(objects, "finished").at(0)["pages_done"], 4);
             }},
        {.name = "silent_unit",
         .args = {"--link-timeout", "2", "info"},
         .act = Act::silent_unit,
         .exit_code = 3,
         .result = "no_link"},
        {.name = "unreadable_image",
         .args = {"download", "unreadable.vr4"},
         .exit_code = 4,
         .also =
             [](const std::vector<Json>& objects, auto&) {
                 ASSERT_EQ(objects.size(), 1u);
                 EXPECT_EQ(objects[0]["event"], "error");
                 EXPECT_EQ(objects[0]["result"], "file_unreadable");
             }},
        {.name = "three_units_at_once",
         .args = {"download", "{image}"},
         .image_size = 70'000,
         .units = 3,
         .result = "success",
         .flash = Flash::image},
        {.name = "two_units_traced_into_one_file",
         .args = {"download", "{image}", "--trace", "wire.trace"},
         .image_size = 20'000,
         .units = 2,
         .result = "success",
         .flash = Flash::image,
         .also =
             [](const std::vector<Json>& objects, auto&) {
                 // "<ms> <port> tx|rx <message> | <frame>", whole lines from both sessions.
                 std::ifstream in("wire.trace");
                 std::map<std::string, int> page_requests;
                 std::string line;
                 int lines = 0;
                 while (std::getline(in, line)) {
                     ++lines;
                     std::istringstream fields(line);
                     std::string ms, port, direction, type;
                     fields >> ms >> port >> direction >> type;
                     ASSERT_TRUE(direction == "tx" || direction == "rx") << line;
                     EXPECT_NE(line.find(" | "), std::string::npos) << line;
                     if (direction == "tx" && type == "2A") ++page_requests[port];
                 }
                 EXPECT_GT(lines, 0);
                 ASSERT_EQ(page_requests.size(), 2u) << "both ports traced";
                 for (const auto& [port, count] : page_requests) EXPECT_GE(count, 79) << port;
                 EXPECT_EQ(of_event(objects, "finished").size(), 2u);
             }},
        {.name = "compare_matching_flash",
         .args = {"compare", "{image}"},
         .image_size = 5000,
         .unit = [](sim::UnitConfig& u) { u.previous_application = 0; },
         .result = "success"},
        {.name = "set_id",
         .args = {"set-id", "new1d"},
         .result = "success",
         .also = [](const std::vector<Json>&,
                    auto& units) { EXPECT_EQ(units[0]->unit_id(), "NEW1D"); }},
        {.name = "set_external_device_hebrew",
         .args = {"set", "external", "0x32"},
         .result = "success",
         .also =
             [](const std::vector<Json>& objects, auto& units) {
                 EXPECT_EQ(units[0]->external_device(), 0x32);
                 const auto setting = of_event(objects, "setting").at(0);
                 EXPECT_EQ(setting["text"], "\u05E8\u05D1 \u05D1\u05E8\u05D9\u05D7");
                 EXPECT_EQ(setting["confirmed"], true);
             }},
        {.name = "set_gps_by_text",
         .args = {"set", "gps", " sirf @ 19200 "},
         .result = "success",
         .also = [](const std::vector<Json>&, auto& units) { EXPECT_EQ(units[0]->gps_type(), 3); }},
        {.name = "qb7",
         .args = {"qb7"},
         .result = "success",
         .also = [](const std::vector<Json>& objects,
                    auto&) { EXPECT_EQ(of_event(objects, "mode").at(0)["mode"], "qb7"); }},
        {.name = "run",
         .args = {"run"},
         .result = "success",
         .also =
             [](const std::vector<Json>& objects, auto&) {
                 EXPECT_EQ(of_event(objects, "mode").at(0)["mode"], "application_running");
             }},
        {.name = "interrupted_download_leaves_a_whole_macro",
         .args = {"download", "{image}", "--record", "unit.vbm"},
         .image_size = 70'000,
         .unit = [](sim::UnitConfig& u) { u.line_time = true; },
         .act = Act::interrupt_midway,
         .exit_code = 1,
         .result = "interrupted",
         .flash = Flash::not_image,
         .also =
             [](const std::vector<Json>&, auto&) {
                 std::ifstream in("unit.vbm", std::ios::binary);
                 const Bytes file((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
                 const MacroParse macro = read_macro(file);
                 EXPECT_TRUE(macro.ok()) << macro.error;
                 EXPECT_GT(macro.records.size(), 20u);
             }},
        {.name = "repeat_over_two_units",
         .args = {"download", "{image}", "--repeat"},
         .image_size = 3000,
         .act = Act::next_unit,
         .result = "success",
         .flash = Flash::image,
         .also =
             [](const std::vector<Json>& objects, auto&) {
                 const auto finished = of_event(objects, "finished");
                 ASSERT_EQ(finished.size(), 2u);
                 EXPECT_EQ(finished[0]["serial_number"], 70012);
                 EXPECT_EQ(finished[1]["serial_number"], 70013);
                 EXPECT_EQ(of_event(objects, "summary").at(0)["units"], 2);
             }},
    };
    return table;
}

class VrkCli : public ::testing::TestWithParam<CliCase> {
  protected:
    void SetUp() override { folder_.enter("vrk-cli", GetParam().name); }
    void TearDown() override {
        units_.clear();
        folder_.leave();
    }

    // A unit on a pseudo-terminal, reached through a link of its own name as a script names a
    // port; the link can later point at the next unit.
    sim::Simulator& start_unit(std::size_t index, std::int32_t serial) {
        sim::UnitConfig config;
        config.serial_number = serial;
        config.previous_application = 65536;  // a unit in the field holds an application
        if (GetParam().unit) GetParam().unit(config);
        auto unit = std::make_unique<sim::Simulator>(config);
        std::string error;
        EXPECT_TRUE(unit->start(&error)) << error;
        const fs::path link = folder_.path() / ("unit" + std::to_string(index));
        std::error_code ec;
        fs::remove(link, ec);
        fs::create_symlink(unit->device_path(), link);
        if (index < units_.size())
            units_[index] = std::move(unit);
        else
            units_.push_back(std::move(unit));
        return *units_[index];
    }

    WorkingFolder folder_;
    std::vector<std::unique_ptr<sim::Simulator>> units_;
};

TEST_P(VrkCli, Runs) {
    const CliCase& c = GetParam();
    Bytes image;
    if (c.image_size != 0) {
        image = sim::make_demo_image(c.image_size, 3);
        std::ofstream(folder_.path() / "app.vr4", std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
    }
    fs::create_directory(folder_.path() / "unreadable.vr4");  // a folder where the image should be

    std::vector<std::string> args = {"--json"};
    for (int i = 0; i < c.units; ++i) {
        sim::Simulator& unit = start_unit(static_cast<std::size_t>(i), 70012 + i * 100);
        if (c.act == Act::silent_unit) unit.set_silent(true);
        if (c.name == "compare_matching_flash")
            for (std::size_t at = 0; at < image.size(); ++at) unit.poke_flash(at, image[at]);
        args.push_back("--port");
        args.push_back((folder_.path() / ("unit" + std::to_string(i))).string());
    }
    std::vector<Bytes> before;
    for (auto& unit : units_) before.push_back(unit->flash_copy(image.size() + 4096));
    for (const std::string& a : c.args) args.push_back(a == "{image}" ? "app.vr4" : a);

    Subprocess vrk(VRK_PROGRAM, args);
    const auto finished_line = [](const std::string& line) {
        return line.find("\"event\":\"finished\"") != std::string::npos;
    };
    if (c.act == Act::interrupt_midway) {
        ASSERT_TRUE(vrk.wait_for_line(
            [](const std::string& line) {
                const Json object = Json::parse(line, nullptr, false);
                return object.is_object() && object.value("event", "") == "progress" &&
                       object.value("pages_done", 0) >= 20;
            },
            120s))
            << vrk.errors();
        vrk.interrupt();
    }
    if (c.act == Act::next_unit) {
        ASSERT_TRUE(vrk.wait_for_line(finished_line, 120s)) << vrk.errors();
        units_[0]->stop();  // the unit is unplugged, its line goes
        start_unit(0, 70013);
        ASSERT_TRUE(vrk.wait_for_line(finished_line, 120s)) << vrk.errors();
        vrk.interrupt();
    }
    const std::optional<int> exit_code = vrk.finish(180s);
    ASSERT_TRUE(exit_code.has_value()) << "vrk did not end; stderr: " << vrk.errors();
    EXPECT_EQ(*exit_code, c.exit_code) << vrk.errors();

    // Every line is one JSON object with its event, port and time.
    std::vector<Json> objects;
    for (const std::string& line : vrk.lines()) {
        Json object;
        ASSERT_NO_THROW(object = Json::parse(line)) << line;
        ASSERT_TRUE(object.is_object()) << line;
        EXPECT_TRUE(object.contains("event") && object.contains("port") && object.contains("time"))
            << line;
        objects.push_back(std::move(object));
    }
    const auto finished = of_event(objects, "finished");
    if (!c.result.empty()) {
        EXPECT_EQ(finished.size(), static_cast<std::size_t>(c.act == Act::next_unit ? 2 : c.units));
        std::set<std::string> ports;
        for (const auto& f : finished) {
            EXPECT_EQ(f["result"], c.result) << f.dump();
            EXPECT_EQ(f["exit_code"], c.exit_code) << f.dump();
            ports.insert(f["port"].get<std::string>());
        }
        EXPECT_EQ(ports.size(), static_cast<std::size_t>(c.units));
    }

    for (std::size_t i = 0; i < units_.size(); ++i) {
        const Bytes flash = units_[i]->flash_copy(image.size() + 4096);
        switch (c.flash) {
            case Flash::untouched:
                EXPECT_EQ(flash, before[i]) << "unit " << i;
                break;
            case Flash::image: {
                Bytes want = image;
                want.resize(flash.size(), 0xFF);
                EXPECT_EQ(flash, want) << "unit " << i;
                break;
            }
            case Flash::not_image:
                EXPECT_FALSE(std::equal(image.begin(), image.end(), flash.begin())) << "unit " << i;
                break;
        }
    }
    if (c.also) c.also(objects, units_);
}

INSTANTIATE_TEST_SUITE_P(Commands, VrkCli, ::testing::ValuesIn(cases()),
                         [](const auto& test) { return test.param.name; });

}  // namespace
}  // namespace vrk::test
