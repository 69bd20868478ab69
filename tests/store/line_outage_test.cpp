// The line's database going away under a running station: the store connects again and does
// the call then, within its outage limit, and a call whose reply was lost with the connection
// is never done twice. The server's going away is made precise with pg_terminate_backend
// from a second connection (the station's backend dies between two calls), and an outage
// that lasts with the database refusing new connections meanwhile.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/station/postgres_station_store.h"
#include "tests/support/pg_scratch.h"
#include "tests/support/station_samples.h"

namespace vrk::test {
namespace {

using namespace cli;
using namespace std::chrono_literals;

// What a port's job is told while its calls wait.
class Watcher final : public StoreWaitObserver {
  public:
    void records_waiting(const std::string& since, const std::string& why) override {
        const std::lock_guard lock(mutex_);
        events_.push_back("waiting");
        since_ = since;
        why_ = why;
    }
    void records_back() override {
        const std::lock_guard lock(mutex_);
        events_.push_back("back");
    }
    bool keep_waiting() override { return !stop_; }

    [[nodiscard]] std::vector<std::string> events() const {
        const std::lock_guard lock(mutex_);
        return events_;
    }
    [[nodiscard]] std::string since() const {
        const std::lock_guard lock(mutex_);
        return since_;
    }
    std::atomic<bool> stop_{false};

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    std::string since_, why_;
};

// One value a query gives, as text ("" for NULL or none), or the failure's message.
std::string query(const std::string& uri, const std::string& sql) {
    PGconn* conn = PQconnectdb(uri.c_str());
    std::string out;
    if (PQstatus(conn) != CONNECTION_OK) {
        out = PQerrorMessage(conn);
    } else {
        PGresult* result = PQexec(conn, sql.c_str());
        const auto status = PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            out = PQresultErrorMessage(result);
        else if (PQntuples(result) > 0 && PQgetisnull(result, 0, 0) == 0)
            out = PQgetvalue(result, 0, 0);
        PQclear(result);
    }
    PQfinish(conn);
    return out;
}

std::string value(const ScratchDatabase& db, const std::string& sql) {
    return query(db.socket_uri(), sql);
}

// The cluster's own database, reachable while a test's database refuses connections.
std::string admin(const std::string& sql) {
    const PgCluster c = pg_cluster();
    return query("postgresql:///postgres?host=" + c.socket_folder + "&port=" + c.port +
                     "&user=postgres",
                 sql);
}

// Ends the station's session on the server (its application name is vrk) and waits until it
// is gone, so that the store's next statement finds the connection broken.
void kill_station(const ScratchDatabase& db) {
    const std::string where = " FROM pg_stat_activity WHERE datname = '" + db.name() +
                              "' AND application_name = 'vrk'";
    ASSERT_EQ(admin("SELECT count(pg_terminate_backend(pid))" + where), "1");
    for (int i = 0; i < 500; ++i) {
        if (admin("SELECT count(*)" + where) == "0") return;
        std::this_thread::sleep_for(10ms);
    }
    FAIL() << "the station's session did not end";
}

// The database takes no new connection (as a server that is down), or takes them again.
void refuse_connections(const ScratchDatabase& db, bool refuse) {
    ASSERT_EQ(admin("ALTER DATABASE \"" + db.name() + "\" WITH ALLOW_CONNECTIONS " +
                    (refuse ? "false" : "true")),
              "");
}

std::unique_ptr<StationStore> open_store(const ScratchDatabase& db, std::uint32_t limit_ms) {
    PostgresStoreSettings settings;
    settings.outage_limit_ms = limit_ms;
    StoreError error;
    auto store =
        open_postgres_station_store(db.socket_uri(), StoreAccess::station, &error, settings);
    EXPECT_TRUE(store) << error.message;
    return store;
}

RunEnd an_end(const std::string& key) {
    RunEnd e;
    e.run_key = key;
    e.id_after = "W1";
    e.settings_after = {0, 1, 1};
    e.steps = {"success", "success", "not_asked", "success"};
    e.result = "success";
    e.message = "the recipe is done";
    e.duration_ms = 1234;
    return e;
}

const IdClaimant UNIT{7, "run-7", 1};

// What is in the database after each case, to compare with what should be.
struct Stored {
    std::string runs, completed, ids, bound, counter, hooks;
    friend bool operator==(const Stored&, const Stored&) = default;
};
std::ostream& operator<<(std::ostream& out, const Stored& s) {
    return out << "runs " << s.runs << ", completed " << s.completed << ", ids " << s.ids
               << ", bound " << s.bound << ", counter " << s.counter << ", hooks " << s.hooks;
}
Stored stored(const ScratchDatabase& db) {
    return {value(db, "SELECT count(*) FROM runs"),
            value(db, "SELECT count(*) FROM runs WHERE result IS NOT NULL"),
            value(db, "SELECT string_agg(id || ':' || serial_number, ',' ORDER BY id) FROM ids"),
            value(db, "SELECT count(*) FROM ids WHERE state = 'bound'"),
            value(db, "SELECT coalesce(max(next_value), 0) FROM counters"),
            value(db, "SELECT count(*) FROM hooks")};
}

struct Moment {
    const char* name;
    // Done before the station's session is ended (what the unit's run did so far).
    std::function<void(StationStore&)> before;
    // The call the station makes next; its error.
    std::function<StoreError(StationStore&)> call;
    Stored expected;
};

// The station's run of one unit up to each moment of its records.
std::vector<Moment> moments() {
    const auto begin = [](StationStore& s) { ASSERT_TRUE(s.begin_run(a_start("run-7", 7)).ok()); };
    const auto reserve = [](StationStore& s) {
        const auto r = s.reserve_next(scheme("W{}"), std::nullopt, UNIT);
        return r.ok() && r.value.id != "W1"
                   ? StoreError{StoreFailure::io_error, "reserved " + r.value.id}
                   : r.error;
    };
    return {
        {"before_its_row_is_begun", [](StationStore&) {},
         [](StationStore& s) { return s.begin_run(a_start("run-7", 7)); },
         {"1", "0", "", "0", "0", "0"}},
        {"before_its_id_is_reserved", begin, reserve, {"1", "0", "W1:7", "0", "2", "0"}},
        {"before_a_fixed_id_is_claimed", begin,
         [](StationStore& s) {
             const auto c = s.claim("FIX1", IdSource::fixed, UNIT);
             return c.ok() && !c.value.claimed ? StoreError{StoreFailure::io_error, "refused"}
                                               : c.error;
         },
         {"1", "0", "FIX1:7", "0", "0", "0"}},
        {"before_its_id_is_bound",
         [=](StationStore& s) {
             begin(s);
             ASSERT_TRUE(reserve(s).ok());
         },
         [](StationStore& s) { return s.bind("W1", 7); }, {"1", "0", "W1:7", "1", "2", "0"}},
        {"before_its_row_is_completed", begin,
         [](StationStore& s) { return s.complete_run(an_end("run-7")); },
         {"1", "1", "", "0", "0", "0"}},
        {"before_its_hook_is_recorded",
         [=](StationStore& s) {
             begin(s);
             ASSERT_TRUE(s.complete_run(an_end("run-7")).ok());
         },
         [](StationStore& s) {
             return s.record_hook({"run-7", "exit 0", "", "2025-03-01T10:00:05.000Z"});
         },
         {"1", "1", "", "0", "0", "1"}},
    };
}

TEST(LineOutage, AStationWhoseServerGoesAwayBeforeACallConnectsAgainAndDoesItOnce) {
    for (const Moment& m : moments()) {
        ScratchDatabase db;
        ASSERT_TRUE(db.ok()) << db.error();
        auto store = open_store(db, 10'000);
        ASSERT_TRUE(store);
        Watcher watcher;
        store->watch_waits(&watcher);
        m.before(*store);
        kill_station(db);
        const StoreError error = m.call(*store);
        EXPECT_TRUE(error.ok()) << m.name << ": " << error.message;
        EXPECT_EQ(stored(db), m.expected) << m.name;
        EXPECT_EQ(watcher.events(), (std::vector<std::string>{"waiting", "back"})) << m.name;
        EXPECT_EQ(watcher.since().size(), 24u) << m.name << ": " << watcher.since();
    }
}

TEST(LineOutage, ACallWhoseReplyWasLostWithTheConnectionCountsAsDoneAndIsNotDoneTwice) {
    // The call went through and its commit with it, then the connection broke before its
    // reply came: the station makes it again once connected, and what it did is found.
    for (const Moment& m : moments()) {
        ScratchDatabase db;
        ASSERT_TRUE(db.ok()) << db.error();
        auto store = open_store(db, 10'000);
        ASSERT_TRUE(store);
        m.before(*store);
        ASSERT_TRUE(m.call(*store).ok()) << m.name;
        kill_station(db);
        const StoreError again = m.call(*store);
        EXPECT_TRUE(again.ok()) << m.name << ": " << again.message;
        EXPECT_EQ(stored(db), m.expected) << m.name;
    }
}

TEST(LineOutage, AReservationLostWithItsCommitIsTheUnitsAndAnotherUnitGetsTheNext) {
    ScratchDatabase db;
    ASSERT_TRUE(db.ok()) << db.error();
    auto store = open_store(db, 10'000);
    ASSERT_TRUE(store);
    ASSERT_EQ(store->reserve_next(scheme("W{}"), std::nullopt, UNIT).value.id, "W1");
    kill_station(db);
    // The same unit's run asks again: its reservation; another unit: the next ID.
    EXPECT_EQ(store->reserve_next(scheme("W{}"), std::nullopt, UNIT).value.id, "W1");
    kill_station(db);
    EXPECT_EQ(store->reserve_next(scheme("W{}"), std::nullopt, {8, "run-8", 1}).value.id, "W2");
    // The same unit in a later run (another run key) after --new-id spent W1: a new one.
    ASSERT_TRUE(store->spend("W1").ok());
    kill_station(db);
    EXPECT_EQ(store->reserve_next(scheme("W{}"), std::nullopt, {7, "run-7b", 1}).value.id, "W3");
    EXPECT_EQ(value(db, "SELECT string_agg(id || ':' || state, ',' ORDER BY id) FROM ids"),
              "W1:spent,W2:reserved,W3:reserved");
}

TEST(LineOutage, AnOutageLongerThanTheLimitFailsTheCallAsUnreachable) {
    struct Case {
        const char* name;
        std::uint32_t limit_ms;
        bool comes_back_after_limit;  // the server answers again once the call failed
        std::vector<std::string> told;
        const char* message;
    };
    const Case cases[] = {
        {"no_waiting_asked_for", 0, false, {}, "cannot be reached"},
        {"a_short_limit", 600, true, {"waiting"}, "did not answer again within 0.6 s"},
        {"a_limit_in_seconds", 1000, false, {"waiting"}, "did not answer again within 1 s"},
    };
    for (const Case& c : cases) {
        ScratchDatabase db;
        ASSERT_TRUE(db.ok()) << db.error();
        auto store = open_store(db, c.limit_ms);
        ASSERT_TRUE(store);
        Watcher watcher;
        store->watch_waits(&watcher);
        ASSERT_TRUE(store->begin_run(a_start("run-7", 7)).ok());
        refuse_connections(db, true);
        kill_station(db);
        const auto started = std::chrono::steady_clock::now();
        const StoreError error = store->complete_run(an_end("run-7"));
        const auto waited = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(error.failure, StoreFailure::unreachable) << c.name << ": " << error.message;
        EXPECT_NE(error.message.find(c.message), std::string::npos) << c.name << ": "
                                                                    << error.message;
        EXPECT_GE(waited, std::chrono::milliseconds(c.limit_ms)) << c.name;
        EXPECT_LT(waited, std::chrono::milliseconds(c.limit_ms) + 5s) << c.name;
        EXPECT_EQ(watcher.events(), c.told) << c.name;
        refuse_connections(db, false);
        EXPECT_EQ(stored(db).completed, "0") << c.name;
        if (c.comes_back_after_limit) {
            // Past the limit the run ends; a call made all the same connects once.
            EXPECT_TRUE(store->complete_run(an_end("run-7")).ok()) << c.name;
            EXPECT_EQ(stored(db).completed, "1") << c.name;
        }
    }
}

TEST(LineOutage, EveryPortWhoseCallWaitsIsToldAndAllGoOnWhenTheServerIsBack) {
    ScratchDatabase db;
    ASSERT_TRUE(db.ok()) << db.error();
    auto store = open_store(db, 20'000);
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->begin_run(a_start("run-1", 1)).ok());
    refuse_connections(db, true);
    kill_station(db);

    Watcher first, second;
    StoreError first_error, second_error;
    std::thread one([&] {
        store->watch_waits(&first);
        first_error = store->complete_run(an_end("run-1"));
        store->watch_waits(nullptr);
    });
    const auto told = [](const Watcher& w) { return !w.events().empty(); };
    for (int i = 0; i < 1000 && !told(first); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(told(first));
    // The other port's call waits for its turn behind the first: it is told it waits too.
    std::thread two([&] {
        store->watch_waits(&second);
        second_error = store->begin_run(a_start("run-2", 2));
        store->watch_waits(nullptr);
    });
    for (int i = 0; i < 1000 && !told(second); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(told(second));
    refuse_connections(db, false);
    one.join();
    two.join();
    EXPECT_TRUE(first_error.ok()) << first_error.message;
    EXPECT_TRUE(second_error.ok()) << second_error.message;
    const std::vector<std::string> both{"waiting", "back"};
    EXPECT_EQ(first.events(), both);
    EXPECT_EQ(second.events(), both);
    EXPECT_EQ(stored(db), (Stored{"2", "1", "", "0", "0", "0"}));
}

TEST(LineOutage, AnObserverThatStopsWaitingEndsTheWaitAtOnce) {
    ScratchDatabase db;
    ASSERT_TRUE(db.ok()) << db.error();
    auto store = open_store(db, 60'000);
    ASSERT_TRUE(store);
    Watcher watcher;
    watcher.stop_ = true;  // Ctrl+C
    store->watch_waits(&watcher);
    refuse_connections(db, true);
    kill_station(db);
    const auto started = std::chrono::steady_clock::now();
    const StoreError error = store->begin_run(a_start("run-7", 7));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_EQ(error.failure, StoreFailure::unreachable);
    EXPECT_NE(error.message.find("the wait for it was ended"), std::string::npos)
        << error.message;
    refuse_connections(db, false);
}

}  // namespace
}  // namespace vrk::test
