#include "app/cli/port_job.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "app/session.h"
#include "app/session_commands.h"
#include "app/wire_trace.h"
#include "platform/sha256.h"

namespace vrk::cli {

namespace {

int exit_code_of(device::Result result) {
    switch (result) {
        case device::Result::success:
            return EXIT_OK;
        case device::Result::port_lost:
            return EXIT_NO_LINK;
        case device::Result::file_not_found:
        case device::Result::file_unreadable:
        case device::Result::file_empty:
        case device::Result::file_too_large:
            return EXIT_BAD_IMAGE;
        case device::Result::mismatch:
        case device::Result::not_responding:
        case device::Result::link_lost:
        case device::Result::interrupted:
            break;
    }
    return EXIT_FAILED;
}

std::string_view command_name(Command command) {
    switch (command) {
        case Command::ports:
            return "ports";
        case Command::info:
            return "info";
        case Command::download:
            return "download";
        case Command::compare:
            return "compare";
        case Command::set_id:
            return "set-id";
        case Command::set:
            return "set";
        case Command::qb7:
            return "qb7";
        case Command::run:
            return "run";
        case Command::program:
            return "program";
        case Command::log:
            return "log";
        case Command::none:
            break;
    }
    return "none";
}

bool is_transfer(Command command) {
    return command == Command::download || command == Command::compare;
}

std::string seconds_text(std::uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
    return text;
}

std::string value_json(const std::string& text, std::uint8_t code) {
    return JsonLine().add("code", static_cast<int>(code)).add("text", text).text();
}

std::string value_text(const std::string& text, std::uint8_t code) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned>(code));
    return (text.empty() ? std::string("(not in the list)") : text) + " (" + hex + ")";
}

}  // namespace

void SharedLineFile::write_line(std::string_view line) {
    std::lock_guard lock(mutex_);
    if (!file_) return;
    buffer_.assign(line);
    buffer_ += '\n';
    // One write per line: a crash leaves every line before it whole.
    if (!file_->write(std::span<const std::uint8_t>(
            reinterpret_cast<const std::uint8_t*>(buffer_.data()), buffer_.size())))
        file_.reset();
}

PortJob::PortJob(const Options& options, std::string device, std::size_t row, JobServices services)
    : options_(options), device_(std::move(device)), row_(row), s_(services) {}

JsonLine PortJob::event(std::string_view name) const {
    JsonLine line;
    line.add("event", name).add("port", device_).add("time", utc_time_now());
    return line;
}

std::string PortJob::label() const {
    if (!unit_.id.known) return device_;
    return device_ + ": " + unit_.id.text + " (serial " + std::to_string(unit_.serial_number) + ")";
}

int PortJob::run() {
    platform::OpenResult opened = s_.ports.open(device_);
    if (!opened.port) {
        report_open_failure(opened.error);
        return exit_code_;
    }

    std::unique_ptr<app::WireTrace> trace;
    app::SessionServices services{s_.clock, s_.files, *this};
    services.before_start = [this, &trace](app::Session& session) {
        session.engine().events.add(*this);
        session.set_prompts(this);
        if (s_.trace != nullptr) {
            SharedLineFile* file = s_.trace;
            trace = std::make_unique<app::WireTrace>(
                session, device_, s_.clock, s_.origin,
                [file](std::string_view line) { file->write_line(line); });
        }
    };
    app::Session session(std::move(opened.port), device_, services);
    session_ = &session;
    // A port that goes away (a USB adapter pulled out, a unit on its own adapter swapped on a
    // production line) is opened again by the name given, once a second, until it is back.
    session.set_reopen([this] { return s_.ports.open(device_); });

    if (options_.record) {
        platform::FileError error = platform::FileError::none;
        if (!app::start_recording(session, *options_.record, &error)) {
            finish({"record_failed", EXIT_USAGE,
                    "The macro file " + *options_.record + " cannot be created."});
            stage_ = Stage::done;
        }
    }

    stage_start_ = now();
    while (stage_ != Stage::done) {
        if (s_.console.interrupted()) {
            interrupt(session);
            if (stage_ == Stage::done) break;
        }
        session.tick();
        step(session);
    }
    s_.output.bar(row_, "");
    trace.reset();
    // The macro file closed whole, DTR and RTS dropped, the port released.
    session.shutdown();
    session_ = nullptr;

    if (options_.repeat) {
        const std::uint32_t failed = units_ - succeeded_;
        s_.output.json(event("summary")
                           .add("units", units_)
                           .add("succeeded", succeeded_)
                           .add("failed", failed)
                           .text());
        s_.output.result(device_ + ": " + std::to_string(units_) + " units, " +
                         std::to_string(succeeded_) + " succeeded, " + std::to_string(failed) +
                         " failed");
    }
    return exit_code_;
}

void PortJob::report_open_failure(platform::PortError error) {
    finish({"port_unavailable", EXIT_NO_LINK, platform::describe_port_error(error, device_)});
}

void PortJob::step(app::Session& session) {
    const std::uint32_t t = now();
    switch (stage_) {
        case Stage::finding_unit:
            if (unit_.complete()) {
                announce_unit();
                act(session);
                return;
            }
            if (port_lost_ && !options_.repeat) {
                finish({"port_lost", EXIT_NO_LINK, "The port " + device_ + " is gone."});
                return;
            }
            // In --repeat the line waits for its next unit as long as it takes.
            if (!options_.repeat &&
                t - stage_start_ > static_cast<std::uint32_t>(options_.link_timeout_s * 1000)) {
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, "%g", options_.link_timeout_s);
                finish({"no_link", EXIT_NO_LINK,
                        "No unit answered on " + device_ + " within " + seconds + " s."});
                return;
            }
            // A reply to one of the first queries lost on the line: ask again.
            if (linked_ && t - last_query_ > QUERY_AGAIN_MS) {
                app::query_unit(session);
                last_query_ = t;
            }
            return;
        case Stage::acting:
            if (outcome_) {
                finish(*outcome_);
                return;
            }
            if (!is_transfer(options_.command)) check_answer(t);
            if (!is_transfer(options_.command) && port_lost_)
                finish({"port_lost", EXIT_NO_LINK, "The port " + device_ + " is gone."});
            return;
        case Stage::waiting_for_next:
            if (link_gone_) {
                link_gone_ = false;
                unit_ = Identity{};
                stage_ = Stage::finding_unit;
                stage_start_ = t;
            }
            return;
        case Stage::done:
            return;
    }
}

void PortJob::act(app::Session& session) {
    stage_ = Stage::acting;
    acted_at_ = now();
    outcome_.reset();
    switch (options_.command) {
        case Command::info:
            outcome_ = Outcome{"success", EXIT_OK, ""};
            break;
        case Command::download:
        case Command::compare: {
            const auto kind = options_.command == Command::compare
                                  ? device::OperationKind::compare
                                  : (options_.verify ? device::OperationKind::download_and_verify
                                                     : device::OperationKind::download);
            image_sha256_.clear();
            image_size_ = 0;
            app::start_transfer(session, kind, options_.image, options_.image);
            break;
        }
        case Command::set_id:
            app::send_unit_id(session, options_.id);
            break;
        case Command::set:
            if (!app::choose_setting(session, options_.setting, options_.code))
                outcome_ = Outcome{"not_confirmed", EXIT_FAILED, "The list has no such value."};
            break;
        case Command::qb7:
            app::request_qb7_mode(session);
            break;
        case Command::run:
            app::request_run_application(session);
            break;
        case Command::ports:
        case Command::program:  // main() runs no job for these
        case Command::log:
        case Command::none:
            outcome_ = Outcome{"success", EXIT_OK, ""};
            break;
    }
}

void PortJob::check_answer(std::uint32_t t) {
    if (t - acted_at_ <= ANSWER_LIMIT_MS) return;
    switch (options_.command) {
        case Command::qb7:
        case Command::run:
            outcome_ = Outcome{"not_confirmed", EXIT_FAILED,
                               "The unit did not report the mode it was asked for."};
            break;
        default:
            outcome_ =
                Outcome{"not_confirmed", EXIT_FAILED, "The unit did not confirm the change."};
            break;
    }
}

void PortJob::interrupt(app::Session& session) {
    if (stage_ == Stage::acting && is_transfer(options_.command) &&
        app::transfer_running(session)) {
        // The engine ends it; its result comes back as an event, says "interrupted", and
        // nothing more is sent to the unit.
        app::cancel_transfer(session);
        if (outcome_) finish(*outcome_);
        stage_ = Stage::done;
        return;
    }
    // Waiting between units is how a production line ends its shift, not a failure.
    const bool between_units = options_.repeat && (stage_ == Stage::waiting_for_next ||
                                                   (stage_ == Stage::finding_unit && !linked_));
    if (!between_units && stage_ != Stage::done)
        finish({"interrupted", EXIT_FAILED, "Interrupted."});
    stage_ = Stage::done;
}

void PortJob::finish(Outcome outcome) {
    const bool transfer = is_transfer(options_.command) && image_size_ != 0;
    const std::uint32_t duration = now() - (transfer ? started_at_ : stage_start_);
    auto line = event("finished");
    line.add("command", command_name(options_.command))
        .add("result", outcome.result)
        .add("ok", outcome.exit_code == EXIT_OK)
        .add("exit_code", outcome.exit_code)
        .add("message", outcome.message);
    if (unit_.id.known) {
        line.add("id", unit_.id.text).add("serial_number", std::int64_t{unit_.serial_number});
    } else {
        line.add_null("id").add_null("serial_number");
    }
    if (is_transfer(options_.command)) {
        line.add("operation", device::operation_name(operation_))
            .add("image", options_.image)
            .add("image_size", image_size_)
            .add("image_sha256", image_sha256_)
            .add("pages_done", pages_done_)
            .add("pages", pages_);
    }
    line.add("duration_ms", duration).add("tool_version", TOOL_VERSION);
    s_.output.json(line.text());
    s_.output.bar(row_, "");

    ++units_;
    if (outcome.exit_code == EXIT_OK) ++succeeded_;
    exit_code_ = std::max(exit_code_, outcome.exit_code);
    if (had_error_box_) exit_code_ = std::max(exit_code_, EXIT_FAILED);
    outcome_.reset();
    image_size_ = 0;

    // The lines a person or a script reads.
    if (outcome.exit_code != EXIT_OK) {
        s_.output.error(label() + ": " + std::string(command_name(options_.command)) +
                        " failed: " + outcome.message);
    } else if (options_.command == Command::info) {
        const auto row = [](const char* name, const std::string& value) {
            return std::string(name) + value + "\n";
        };
        std::string block =
            row("Port:            ", device_) + row("ID:              ", unit_.id.text) +
            row("Firmware:        ", unit_.version) + row("Flash:           ", unit_.flash_type) +
            row("Serial number:   ", std::to_string(unit_.serial_number)) +
            row("Crystal:         ", unit_.crystal_hz ? unit_.crystal : "-") +
            row("GPS:             ", value_text(unit_.gps.text, unit_.gps.code)) +
            row("Internal device: ", value_text(unit_.internal.text, unit_.internal.code)) +
            row("External device: ", value_text(unit_.external.text, unit_.external.code));
        s_.output.result(block);
    } else if (is_transfer(options_.command)) {
        std::string what = options_.command == Command::compare ? "matches"
                           : operation_ == device::OperationKind::download_and_verify
                               ? "downloaded and verified"
                               : "downloaded (not verified)";
        s_.output.result(label() + ": " + options_.image + " " + what + " (" +
                         std::to_string(pages_) + " pages, " + seconds_text(duration) + ")");
    } else {
        s_.output.result(label() + ": " + outcome.message);
    }

    if (options_.repeat && outcome.result != "interrupted" && outcome.exit_code != EXIT_USAGE) {
        // The line waits for this unit to go and the next to come.
        stage_ = Stage::waiting_for_next;
        link_gone_ = !linked_;
        s_.output.note(1, device_ + ": waiting for the next unit (Ctrl+C ends)");
    } else {
        stage_ = Stage::done;
    }
}

void PortJob::announce_unit() {
    auto line = event("unit");
    line.add("id", unit_.id.text)
        .add("version", unit_.version)
        .add("flash_type", unit_.flash_type)
        .add("flash_type_code", static_cast<int>(unit_.flash_type_code))
        .add("serial_number", std::int64_t{unit_.serial_number});
    if (unit_.crystal_hz) {
        line.add("crystal", unit_.crystal).add("crystal_hz", std::int64_t{*unit_.crystal_hz});
    } else {
        line.add_null("crystal").add_null("crystal_hz");
    }
    line.add_raw("gps", value_json(unit_.gps.text, unit_.gps.code))
        .add_raw("internal", value_json(unit_.internal.text, unit_.internal.code))
        .add_raw("external", value_json(unit_.external.text, unit_.external.code));
    s_.output.json(line.text());
    if (options_.command != Command::info)
        s_.output.note(1, label() + ": firmware " + unit_.version + ", linked at " +
                              std::to_string(baud_) + " baud");
}

void PortJob::link_up(std::uint32_t baud) {
    linked_ = true;
    baud_ = baud;
    last_query_ = now();
    s_.output.json(event("link_up").add("baud", baud).text());
    s_.output.note(2, device_ + ": a unit answers at " + std::to_string(baud) + " baud");
}

void PortJob::link_lost(link::LinkLoss why) {
    const bool was_linked = linked_;
    linked_ = false;
    if (why == link::LinkLoss::port_lost) port_lost_ = true;
    if (!was_linked && why != link::LinkLoss::port_lost) return;  // the hunt goes on
    s_.output.json(event("link_lost").add("reason", device::loss_name(why)).text());
    s_.output.note(2, device_ + ": the link is lost (" + std::string(device::loss_name(why)) + ")");
    if (stage_ == Stage::waiting_for_next) {
        link_gone_ = true;
        return;
    }
    if (stage_ == Stage::finding_unit) {
        unit_ = Identity{};
        return;
    }
    // A change or a mode request in flight: the unit went before it answered. A mode request
    // has its answer already (the mode report is what resets the link).
    if (stage_ == Stage::acting && !is_transfer(options_.command) && !outcome_) {
        outcome_ = why == link::LinkLoss::port_lost
                       ? Outcome{"port_lost", EXIT_NO_LINK, "The port " + device_ + " is gone."}
                       : Outcome{"link_lost", EXIT_FAILED, "The unit went away."};
    }
}

void PortJob::version_reported(const device::VersionReport& report) {
    unit_.have_version = true;
    unit_.version = report.version_text;
    unit_.flash_type = report.flash_type_text;
    unit_.flash_type_code = report.flash_type;
    unit_.serial_number = report.serial_number;
    if (report.crystal_hz) {
        unit_.crystal_hz = report.crystal_hz;
        unit_.crystal = report.crystal_text;
    }
}

void PortJob::setting_reported(const device::SettingReport& report) {
    Value* value = nullptr;
    switch (report.setting) {
        case device::Setting::unit_id:
            value = &unit_.id;
            break;
        case device::Setting::gps_type:
            value = &unit_.gps;
            break;
        case device::Setting::internal_device:
            value = &unit_.internal;
            break;
        case device::Setting::external_device:
            value = &unit_.external;
            break;
    }
    value->known = true;
    value->code = report.code;
    value->text = report.text_utf8;

    if (stage_ != Stage::acting || outcome_) return;
    const bool mine =
        (options_.command == Command::set_id && report.setting == device::Setting::unit_id) ||
        (options_.command == Command::set && report.setting == options_.setting);
    if (!mine) return;
    auto line = event("setting");
    line.add("setting", device::setting_name(report.setting));
    if (report.setting != device::Setting::unit_id) line.add("code", static_cast<int>(report.code));
    line.add("text", report.text_utf8).add("confirmed", report.confirmation);
    s_.output.json(line.text());
    const std::string shown = report.setting == device::Setting::unit_id
                                  ? "'" + std::string(report.text_utf8) + "'"
                                  : value_text(value->text, report.code);
    const std::string name = report.setting == device::Setting::unit_id
                                 ? "ID"
                                 : std::string(device::setting_name(report.setting));
    if (report.confirmation)
        outcome_ = Outcome{"success", EXIT_OK, "the unit took " + name + " " + shown};
    else
        outcome_ = Outcome{"not_confirmed", EXIT_FAILED,
                           "the unit reports " + name + " " + shown + " instead"};
}

void PortJob::mode_reported(device::UnitMode mode) {
    s_.output.json(event("mode").add("mode", device::mode_name(mode)).text());
    if (stage_ != Stage::acting || outcome_) return;
    const bool wanted =
        (options_.command == Command::qb7 && mode == device::UnitMode::qb7) ||
        (options_.command == Command::run && mode == device::UnitMode::application_running);
    if (!wanted) return;
    outcome_ = Outcome{"success", EXIT_OK,
                       mode == device::UnitMode::qb7 ? "the unit is in QB7 mode"
                                                     : "the unit runs its application"};
}

void PortJob::operation_started(const device::OperationStart& start) {
    operation_ = start.kind;
    pages_ = start.pages;
    pages_done_ = 0;
    phase_ = start.phase;
    image_size_ = start.image_size;
    started_at_ = now();
    if (session_ != nullptr) image_sha256_ = platform::sha256_hex(app::loaded_image(*session_));
    estimate_.start(started_at_, 0, start.pages);
    s_.output.json(event("operation_started")
                       .add("operation", device::operation_name(start.kind))
                       .add("image", options_.image)
                       .add("size", start.image_size)
                       .add("pages", start.pages)
                       .add("resumed", start.resumed)
                       .text());
    draw_bar(true);
}

void PortJob::page_sent(const device::PageSent& page) {
    if (!page.retry) return;
    s_.output.json(event("page_retried")
                       .add("phase", device::phase_name(page.phase))
                       .add("page", page.page)
                       .text());
    s_.output.note(1, device_ + ": page " + std::to_string(page.page) + " sent again (" +
                          std::string(device::phase_name(page.phase)) + ")");
}

void PortJob::progress(const device::Progress& p) {
    const std::uint32_t t = now();
    if (p.phase != phase_ || p.pages_done < estimate_.pages_done()) {
        // A new phase (the verify after programming) is timed on its own.
        phase_ = p.phase;
        estimate_.start(t, p.pages_done, p.pages);
    } else {
        estimate_.update(t, p.pages_done);
    }
    pages_done_ = p.pages_done;
    pages_ = p.pages;
    s_.output.json(event("progress")
                       .add("phase", device::phase_name(p.phase))
                       .add("pages_done", p.pages_done)
                       .add("pages", p.pages)
                       .add("percent", static_cast<int>(estimate_.percent()))
                       .text());
    draw_bar(p.pages_done == p.pages);
}

void PortJob::draw_bar(bool force) {
    const auto& settings = s_.output.settings();
    if (!settings.bars || settings.json || settings.verbosity == 0) return;
    const std::uint32_t t = now();
    if (!force && t - bar_drawn_at_ < BAR_PERIOD_MS) return;
    bar_drawn_at_ = t;
    constexpr int BAR_WIDTH = 24;
    const unsigned percent = estimate_.percent();
    std::string bar = device_ + " " + std::string(device::phase_name(phase_)) + " [";
    const int filled = static_cast<int>(percent) * BAR_WIDTH / 100;
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(BAR_WIDTH - filled), '.');
    char tail[96];
    std::snprintf(tail, sizeof tail, "] %3u%% %u/%u pages", percent, estimate_.pages_done(),
                  estimate_.pages());
    bar += tail;
    if (const auto rate = estimate_.pages_per_second()) {
        std::snprintf(tail, sizeof tail, " %.1f KiB/s", *rate * 256 / 1024);
        bar += tail;
    }
    if (const auto left = estimate_.ms_left()) {
        char time[16];
        app::format_duration(*left, time, sizeof time);
        bar += " ";
        bar += time;
        bar += " left";
    }
    s_.output.bar(row_, bar);
}

void PortJob::operation_finished(const device::OperationEnd& end) {
    pages_done_ = end.pages_done;
    pages_ = end.pages;
    outcome_ = Outcome{std::string(device::result_name(end.result)), exit_code_of(end.result),
                       std::string(end.status_text)};
}

void PortJob::operation_refused(const device::OperationEnd& end) {
    outcome_ = Outcome{std::string(device::result_name(end.result)), exit_code_of(end.result),
                       std::string(end.status_text)};
}

void PortJob::status_changed(std::string_view text) {
    if (!text.empty()) s_.output.note(2, device_ + ": " + std::string(text));
}

platform::MessageAnswer PortJob::message_box(const std::string& text, const std::string&,
                                             platform::MessageButtons buttons,
                                             platform::MessageIcon icon) {
    if (icon == platform::MessageIcon::error) had_error_box_ = true;
    s_.output.error(device_ + ": " + text);
    return buttons == platform::MessageButtons::yes_no ? platform::MessageAnswer::no
                                                       : platform::MessageAnswer::ok;
}

}  // namespace vrk::cli
