// A production line on one PostgreSQL database whose server is stopped in the middle of the
// shift: three vrk processes (three stations) with four simulated units each, a new unit put
// on a port as soon as the one there passed, until 36 units are flashed. The server goes away
// for 10 s and comes back; every station rides it out: no row lost or doubled, no ID given
// twice, no unit shown passed before its row is stored. The test runs a cluster of its own
// (scripts/pg-test-cluster), since it stops its server.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/station/station_store.h"
#include "sim/demo_image.h"
#include "sim/simulator.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/pg_scratch.h"
#include "tests/support/subprocess.h"

namespace vrk::test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using namespace std::chrono_literals;

constexpr std::size_t IMAGE_SIZE = 4'000;
constexpr int STATIONS = 3;
constexpr int PORTS = 4;
constexpr int UNITS_PER_STATION = 12;
constexpr int UNITS = STATIONS * UNITS_PER_STATION;
// The serial number of a unit that the records gave no ID: it carries the ID the records bind
// to another unit (say a label printed twice), and must get one of its own.
constexpr std::int32_t CARRIER = 91003;
constexpr const char* OTHERS_ID = "L00005";
constexpr std::int32_t OTHER_UNIT = 99001;

// A text field of a JSON object; empty when it is null or missing.
std::string text(const Json& o, const char* key) {
    const auto found = o.find(key);
    return found != o.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// Runs the test cluster's script.
int cluster(const std::string& action, const std::string& state) {
    const std::string command =
        std::string(VRK_PG_CLUSTER_SCRIPT) + " " + action + " " + state + " >/dev/null";
    return std::system(command.c_str());
}

class VrkLine : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_.enter("vrk-line", ::testing::UnitTest::GetInstance()->current_test_info()->name());
        state_ = (folder_.path() / "cluster").string();
        ASSERT_EQ(cluster("start", state_), 0);
        started_ = true;
        ::setenv("VRK_TEST_PG_STATE", state_.c_str(), 1);
        ::unsetenv("VRK_TEST_PG_SOCKET");
        ::unsetenv("VRK_TEST_PG_PORT");
        image_ = sim::make_demo_image(IMAGE_SIZE, 5);
        std::ofstream("app.vr4", std::ios::binary)
            .write(reinterpret_cast<const char*>(image_.data()),
                   static_cast<std::streamsize>(image_.size()));
    }
    void TearDown() override {
        units_.clear();
        if (started_) (void)cluster("stop", state_);
        folder_.leave();
    }

    // A new unit on port `index` (the one there goes), with its own serial number.
    void put_unit(std::size_t index, std::int32_t serial, const std::string& id = "VRK00042") {
        if (units_.size() <= index) units_.resize(index + 1);
        units_[index].reset();
        sim::UnitConfig config;
        config.serial_number = serial;
        config.id = id;
        config.previous_application = 65536;
        units_[index] = std::make_unique<sim::Simulator>(config);
        std::string error;
        ASSERT_TRUE(units_[index]->start(&error)) << error;
        ASSERT_TRUE(units_[index]->link_at(port(index), &error)) << error;
    }
    [[nodiscard]] std::string port(std::size_t index) const {
        return (folder_.path() / ("u" + std::to_string(index))).string();
    }

    WorkingFolder folder_;
    std::string state_;
    bool started_ = false;
    std::vector<std::uint8_t> image_;
    std::vector<std::unique_ptr<sim::Simulator>> units_;
};

// One station's JSON objects, with the port each came from.
struct Station {
    std::unique_ptr<Subprocess> vrk;
    std::vector<Json> objects;
};

TEST_F(VrkLine, ThreeStationsRideOutTheServersOutageAndGiveThirtySixIdsOnce) {
    ScratchDatabase db;
    ASSERT_TRUE(db.ok()) << db.error();
    const std::string uri = db.socket_uri();
    {
        // Another station of the line gave OTHERS_ID to another unit.
        cli::StoreError error;
        auto store = cli::open_station_store(uri, cli::StoreAccess::station, &error);
        ASSERT_TRUE(store) << error.message;
        ASSERT_TRUE(store->claim(OTHERS_ID, cli::IdSource::fixed, {OTHER_UNIT, "other-run"})
                        .value.claimed);
        ASSERT_TRUE(store->bind(OTHERS_ID, OTHER_UNIT).ok());
    }

    std::int32_t next_serial = 91001;
    for (std::size_t p = 0; p < STATIONS * PORTS; ++p) {
        const std::int32_t serial = next_serial++;
        put_unit(p, serial, serial == CARRIER ? OTHERS_ID : "VRK00042");
    }
    std::vector<Station> stations(STATIONS);
    for (int s = 0; s < STATIONS; ++s) {
        std::vector<std::string> args = {"--json", "--repeat", "--count",
                                         std::to_string(UNITS_PER_STATION)};
        for (int p = 0; p < PORTS; ++p)
            args.insert(args.end(), {"--port", port(static_cast<std::size_t>(s * PORTS + p))});
        args.insert(args.end(), {"program", "app.vr4", "--no-verify", "--db", uri,
                                 "--id-format", "L{:05}", "--station-number",
                                 std::to_string(s + 1), "--db-wait", "60"});
        stations[s].vrk = std::make_unique<Subprocess>(VRK_PROGRAM, args);
    }

    // Each port: a unit that passed goes, and a new one comes, until every station has done
    // its count. The server is stopped once a third of the units passed, for 10 s.
    std::map<std::string, std::size_t> port_index;
    for (std::size_t p = 0; p < STATIONS * PORTS; ++p) port_index[port(p)] = p;
    int passed = 0;
    bool stopped = false, restarted = false;
    auto stopped_at = std::chrono::steady_clock::now();
    const auto deadline = std::chrono::steady_clock::now() + 170s;
    std::vector<bool> done(STATIONS, false);
    int running = STATIONS;
    while (running > 0 && std::chrono::steady_clock::now() < deadline) {
        for (int s = 0; s < STATIONS; ++s) {
            if (done[s]) continue;
            Station& station = stations[s];
            const bool more = station.vrk->wait_for_line(
                [&](const std::string& line) {
                    Json object = Json::parse(line, nullptr, false);
                    EXPECT_FALSE(object.is_discarded()) << line;
                    station.objects.push_back(object);
                    if (text(object, "event") == "finished" &&
                        text(object, "result") == "success") {
                        ++passed;
                        const auto at = port_index.find(text(object, "port"));
                        EXPECT_NE(at, port_index.end()) << line;
                        if (at != port_index.end()) put_unit(at->second, next_serial++);
                    }
                    return false;
                },
                50ms);
            (void)more;
        }
        if (!stopped && passed >= UNITS / 3) {
            ASSERT_EQ(cluster("pause", state_), 0);
            stopped = true;
            stopped_at = std::chrono::steady_clock::now();
        }
        if (stopped && !restarted && std::chrono::steady_clock::now() - stopped_at >= 10s) {
            ASSERT_EQ(cluster("resume", state_), 0);
            restarted = true;
        }
        running = 0;
        for (int s = 0; s < STATIONS; ++s) {
            // The count done: the station ends; finish() reads what is left.
            int finished = 0;
            for (const Json& o : stations[s].objects)
                if (text(o, "event") == "finished") ++finished;
            if (finished >= UNITS_PER_STATION) done[s] = true;
            if (!done[s]) ++running;
        }
    }
    ASSERT_TRUE(restarted) << "the server was never stopped: " << passed << " units passed; "
                           << stations[0].vrk->errors();

    std::set<std::string> ids, run_keys;
    std::set<std::int64_t> serials;
    int waits = 0;
    for (Station& station : stations) {
        const auto code = station.vrk->finish(60s);
        ASSERT_TRUE(code.has_value()) << station.vrk->errors();
        EXPECT_EQ(*code, 0) << station.vrk->errors();
        // finish() read the rest: the objects after those seen above.
        station.objects.clear();
        for (const std::string& line : station.vrk->lines())
            station.objects.push_back(Json::parse(line, nullptr, false));
        // Per port: no unit shown passed before its row was completed, nor while the port
        // waited for the database.
        std::map<std::string, std::string> completed;  // port -> run key of its last row
        std::map<std::string, bool> waiting;
        for (const Json& o : station.objects) {
            const std::string event = text(o, "event");
            const std::string at = text(o, "port");
            if (event == "records_waiting") {
                waiting[at] = true;
                ++waits;
            } else if (event == "records_back") {
                waiting[at] = false;
            } else if (event == "record" && o["state"] == "completed") {
                completed[at] = text(o, "run_key");
            } else if (event == "finished") {
                EXPECT_EQ(o["result"], "success") << o.dump();
                EXPECT_FALSE(waiting[at]) << o.dump();
                EXPECT_EQ(completed[at], o["run_key"]) << o.dump();
                ids.insert(text(o, "id_after"));
                run_keys.insert(text(o, "run_key"));
                serials.insert(o["serial_number"].is_number() ? o["serial_number"].get<std::int64_t>() : 0);
                if (o["serial_number"] == CARRIER) {
                    EXPECT_NE(o["id_after"], OTHERS_ID);
                }
            }
        }
    }
    EXPECT_EQ(ids.size(), static_cast<std::size_t>(UNITS));
    EXPECT_EQ(run_keys.size(), static_cast<std::size_t>(UNITS));
    EXPECT_EQ(serials.size(), static_cast<std::size_t>(UNITS));
    EXPECT_EQ(ids.count(OTHERS_ID), 0u);
    // The outage was seen by the stations that needed the database meanwhile.
    EXPECT_GT(waits, 0);

    // The records: every unit's row once, completed as passed; every ID once, bound to its
    // unit (and the other unit's ID still its own).
    cli::StoreError error;
    auto store = cli::open_station_store(uri, cli::StoreAccess::export_only, &error);
    ASSERT_TRUE(store) << error.message;
    std::multiset<std::string> rows;
    int rows_passed = 0;
    ASSERT_TRUE(store
                    ->for_each_run({},
                                   [&](const cli::RunRecord& r) {
                                       rows.insert(r.start.run_key);
                                       if (r.end && r.end->result == "success") ++rows_passed;
                                   })
                    .ok());
    EXPECT_EQ(rows.size(), static_cast<std::size_t>(UNITS));
    EXPECT_EQ(std::set<std::string>(rows.begin(), rows.end()), run_keys);
    EXPECT_EQ(rows_passed, UNITS);
    std::map<std::string, std::int32_t> bound;
    ASSERT_TRUE(store
                    ->for_each_id({},
                                  [&](const cli::IdHolder& h) {
                                      EXPECT_EQ(h.state, cli::IdState::bound) << h.id;
                                      bound[h.id] = h.serial_number;
                                  })
                    .ok());
    EXPECT_EQ(bound.size(), static_cast<std::size_t>(UNITS) + 1);
    EXPECT_EQ(bound[OTHERS_ID], OTHER_UNIT);

    // vrk log lists them all.
    Subprocess log(VRK_PROGRAM, {"log", "--db", uri});
    const auto logged = log.finish(60s);
    ASSERT_TRUE(logged.has_value()) << log.errors();
    EXPECT_EQ(*logged, 0) << log.errors();
    ASSERT_FALSE(log.lines().empty());
    std::set<std::string> listed;
    for (std::size_t i = 1; i < log.lines().size(); ++i)
        listed.insert(log.lines()[i].substr(0, log.lines()[i].find(',')));
    EXPECT_EQ(log.lines().size(), static_cast<std::size_t>(UNITS) + 1);  // with its header
    EXPECT_EQ(listed, run_keys);
}

}  // namespace
}  // namespace vrk::test
