#include "tests/support/job_rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>

#include "app/cli/options.h"
#include "app/cli/station/sqlite_station_store.h"
#include "app/cli/unit_run.h"
#include "sim/simulated_port.h"
#include "tests/support/failing_vfs.h"

namespace vrk::test {

namespace {

// A port on the socket's unit that goes dead when that unit is pulled out.
class SocketPort final : public platform::SerialPort {
  public:
    SocketPort(std::unique_ptr<sim::SimulatedPort> line, const std::uint64_t& generation)
        : line_(std::move(line)), generation_(generation), mine_(generation) {}

    bool configure(std::uint32_t baud) override { return alive() && line_->configure(baud); }
    bool set_baud_rate(std::uint32_t baud) override {
        return alive() && line_->set_baud_rate(baud);
    }
    platform::ReadResult read(std::span<std::uint8_t> buffer) override {
        if (!alive()) return {platform::IoStatus::lost, 0};
        return line_->read(buffer);
    }
    platform::IoStatus write(std::span<const std::uint8_t> bytes) override {
        if (!alive()) return platform::IoStatus::lost;
        return line_->write(bytes);
    }
    std::optional<platform::ModemLines> modem_lines() override { return std::nullopt; }
    bool set_dtr_rts(bool on) override { return alive() && line_->set_dtr_rts(on); }
    void close() override { line_->close(); }

  private:
    [[nodiscard]] bool alive() const { return generation_ == mine_; }

    std::unique_ptr<sim::SimulatedPort> line_;
    const std::uint64_t& generation_;
    std::uint64_t mine_;
};

std::string read_all(std::FILE* file) {
    std::rewind(file);
    std::string text;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, file)) text.append(buffer, n);
    return text;
}

}  // namespace

sim::UnitEnd& UnitSocket::plug_in(sim::UnitConfig config) {
    units_.push_back(std::make_unique<sim::UnitEnd>(std::move(config)));
    std::string error;
    (void)units_.back()->prepare(&error);
    current_ = units_.back().get();
    return *current_;
}

void UnitSocket::pull_out() {
    current_ = nullptr;
    ++generation_;
}

platform::OpenResult UnitSocket::open(const std::string& device) {
    platform::OpenResult result;
    ++opens_;
    if (device != SOCKET_PORT || current_ == nullptr) {
        result.error = platform::PortError::not_found;
    } else if (!current_->take_line()) {
        result.error = platform::PortError::busy;
    } else {
        result.port = std::make_unique<SocketPort>(
            std::make_unique<sim::SimulatedPort>(*current_, time_), generation_);
    }
    return result;
}

std::vector<nlohmann::json> JobRun::of(const std::string& event) const {
    std::vector<nlohmann::json> found;
    for (const auto& o : objects)
        if (o.value("event", "") == event) found.push_back(o);
    return found;
}

JobRig::JobRig() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string leaf = "vrk-job-" + std::string(info != nullptr ? info->name() : "rig") + "-" +
                       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    // A parameterised test's name holds a slash: one folder, not a folder left behind above it.
    std::replace(leaf.begin(), leaf.end(), '/', '-');
    dir_ = (std::filesystem::temp_directory_path() / leaf).string();
    std::filesystem::create_directories(dir_);
    db_path = dir_ + "/station.db";
}

JobRig::~JobRig() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

JobRun JobRig::run(const std::vector<std::string>& args, cli::JobObserver* observer) {
    JobRun run;
    std::vector<std::string> arguments = args;
    arguments.insert(arguments.begin(), {"--port", SOCKET_PORT});
    const cli::ParsedCommandLine parsed = cli::parse_command_line(arguments);
    EXPECT_EQ(parsed.error, "");
    if (!parsed.error.empty()) return run;

    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    cli::RunServices services{time, files, console, out, err, "station-test"};
    if (observer != nullptr) services.observers.push_back(observer);
    // The database on a medium the test can make fail (failing_vfs_faults()).
    services.open_store = [this](const std::string& path, cli::StoreError* error) {
        cli::SqliteStoreSettings settings;
        settings.vfs = failing_vfs();
        settings.why_unwritable = [](const std::string&) {
            return static_cast<platform::WriteBlock>(failing_vfs_faults().medium.load());
        };
        auto store =
            cli::open_sqlite_station_store(path, cli::StoreAccess::station, error, settings);
        if (store && wrap_store) store = wrap_store(std::move(store));
        return store;
    };
    cli::UnitRun unit_run(parsed.options, services);
    const auto early = unit_run.prepare();
    run.exit_code = early ? *early : unit_run.run({SOCKET_PORT}, socket);
    run.out = read_all(out);
    run.err = read_all(err);
    std::fclose(out);
    std::fclose(err);
    if (parsed.options.json) {
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);) {
            nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
            EXPECT_FALSE(object.is_discarded()) << line;
            run.objects.push_back(std::move(object));
        }
    }
    return run;
}

std::unique_ptr<cli::StationStore> JobRig::records() {
    cli::StoreError error;
    auto store = cli::open_station_store(db_path, cli::StoreAccess::export_only, &error);
    EXPECT_TRUE(store) << error.message;
    return store;
}

sim::UnitConfig unit_with_serial(std::int32_t serial) {
    sim::UnitConfig config;
    config.serial_number = serial;
    config.previous_application = 65536;
    return config;
}

}  // namespace vrk::test
