// One port's share of a vrk run: opens the port, runs a session on it, waits for the unit,
// carries out the command and reports each step. Runs on a thread of its own when there are
// several ports; it shares nothing with the others but the output and the trace file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app/cli/json_line.h"
#include "app/cli/options.h"
#include "app/cli/output.h"
#include "app/progress_estimate.h"
#include "device/events.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/host_services.h"
#include "platform/serial_port.h"
#include "platform/tick_clock.h"
#include "vrk_version.h"

namespace vrk::app {
class Session;
}

namespace vrk::cli {

// A file of whole lines written by several threads: the wire trace.
class SharedLineFile {
  public:
    explicit SharedLineFile(std::unique_ptr<platform::OutputFile> file) : file_(std::move(file)) {}
    void write_line(std::string_view line);

  private:
    std::mutex mutex_;
    std::unique_ptr<platform::OutputFile> file_;
    std::string buffer_;
};

struct JobServices {
    platform::PortProvider& ports;
    platform::TickClock& clock;
    platform::FileSystem& files;
    platform::Console& console;
    Output& output;
    SharedLineFile* trace = nullptr;  // --trace
    std::uint32_t origin = 0;         // the tick the run started at (trace times count from it)
};

// How long a change or a mode request may wait for the unit's answer. The unit answers at once;
// this leaves room for a slow line and a busy machine.
inline constexpr std::uint32_t ANSWER_LIMIT_MS = 5'000;
// A unit that answered the probe but not yet every query by then is asked again.
inline constexpr std::uint32_t QUERY_AGAIN_MS = 1'500;
// The progress bar is redrawn at most this often.
inline constexpr std::uint32_t BAR_PERIOD_MS = 100;

inline constexpr const char* TOOL_VERSION = VRK_VERSION_TEXT;

class PortJob final : public device::EngineObserver,
                      public device::UnitPrompts,
                      public platform::HostServices {
  public:
    // `row` is the port's progress bar line.
    PortJob(const Options& options, std::string device, std::size_t row, JobServices services);

    // Runs to the end; returns the port's exit code.
    [[nodiscard]] int run();

    // device::EngineObserver
    void link_up(std::uint32_t baud) override;
    void link_lost(link::LinkLoss why) override;
    void version_reported(const device::VersionReport& report) override;
    void setting_reported(const device::SettingReport& report) override;
    void mode_reported(device::UnitMode mode) override;
    void operation_started(const device::OperationStart& start) override;
    void page_sent(const device::PageSent& page) override;
    void progress(const device::Progress& progress) override;
    void operation_finished(const device::OperationEnd& end) override;
    void operation_refused(const device::OperationEnd& end) override;
    void status_changed(std::string_view text) override;

    // device::UnitPrompts: the tool asks nobody.
    void qb7_mode() override {}
    [[nodiscard]] bool exit_when_application_runs() override { return false; }

    // platform::HostServices: boxes become lines on standard error.
    platform::MessageAnswer message_box(const std::string& text, const std::string& caption,
                                        platform::MessageButtons buttons,
                                        platform::MessageIcon icon) override;
    void beep() override {}
    std::optional<std::string> save_file_dialog(const platform::SaveFileRequest&) override {
        return std::nullopt;
    }

  private:
    enum class Stage { finding_unit, acting, waiting_for_next, done };

    struct Value {
        bool known = false;  // reported since the link came up
        std::uint8_t code = 0;
        std::string text;  // UTF-8
    };
    struct Identity {
        Value id, gps, internal, external;
        bool have_version = false;
        std::string version, flash_type, crystal;
        std::int32_t serial_number = 0;
        std::uint8_t flash_type_code = 0;
        std::optional<std::int32_t> crystal_hz;
        [[nodiscard]] bool complete() const {
            return id.known && have_version && gps.known && internal.known && external.known;
        }
    };
    // What a finished unit reports.
    struct Outcome {
        std::string result;  // a stable name
        int exit_code = EXIT_OK;
        std::string message;
    };

    void step(app::Session& session);
    void act(app::Session& session);
    void check_answer(std::uint32_t now);
    void interrupt(app::Session& session);
    void finish(Outcome outcome);
    void announce_unit();
    void report_open_failure(platform::PortError error);
    void draw_bar(bool force);

    [[nodiscard]] JsonLine event(std::string_view name) const;
    [[nodiscard]] std::string label() const;  // "<port>: <ID> (serial N)"
    [[nodiscard]] std::uint32_t now() const { return s_.clock.tick_ms(); }

    const Options& options_;
    std::string device_;
    std::size_t row_;
    JobServices s_;

    Stage stage_ = Stage::finding_unit;
    std::uint32_t stage_start_ = 0;
    std::uint32_t last_query_ = 0;
    bool linked_ = false;
    std::uint32_t baud_ = 0;
    Identity unit_;
    bool port_lost_ = false;
    bool link_gone_ = false;

    // The command in flight.
    std::uint32_t acted_at_ = 0;
    std::optional<Outcome> outcome_;  // set by the events once the unit answered
    bool had_error_box_ = false;      // a macro file could not be written

    // The transfer in flight.
    std::string image_sha256_;
    std::uint32_t image_size_ = 0;
    device::OperationKind operation_ = device::OperationKind::download;
    std::uint32_t pages_done_ = 0, pages_ = 0;
    device::Phase phase_ = device::Phase::idle;
    std::uint32_t started_at_ = 0;
    app::ProgressEstimate estimate_;
    std::uint32_t bar_drawn_at_ = 0;
    app::Session* session_ = nullptr;

    int exit_code_ = EXIT_OK;
    std::uint32_t units_ = 0, succeeded_ = 0;
};

}  // namespace vrk::cli
