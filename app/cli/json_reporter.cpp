#include "app/cli/json_reporter.h"

#include "app/cli/common/utc_time.h"
#include "app/cli/job_plan.h"
#include "vrk_version.h"

namespace vrk::cli {

JsonLine json_event(std::string_view name, std::string_view port) {
    JsonLine line;
    line.add("schema", JSON_SCHEMA)
        .add("event", name)
        .add("port", port)
        .add("time", utc_time_now());
    return line;
}

JsonLine json_event_without_port(std::string_view name) {
    JsonLine line;
    line.add("schema", JSON_SCHEMA).add("event", name).add_null("port").add("time", utc_time_now());
    return line;
}

std::string error_json(Result result, std::string_view message) {
    return json_event_without_port("error")
        .add("result", result_name(result))
        .add("exit_code", exit_code_of(result))
        .add("message", message)
        .text();
}

std::string setting_json(const SettingValue& value) {
    return JsonLine().add("code", static_cast<int>(value.code)).add("text", value.text).text();
}

JsonReporter::JsonReporter(Output& output, std::string port)
    : output_(output), port_(std::move(port)) {}

JsonLine JsonReporter::event(std::string_view name) const {
    return json_event(name, port_);
}

void JsonReporter::link_up(std::uint32_t baud) {
    linked_ = true;
    output_.json(event("link_up").add("baud", baud).text());
}

void JsonReporter::link_lost(link::LinkLoss why) {
    if (!link_really_lost(linked_, why)) return;
    output_.json(event("link_lost").add("reason", device::loss_name(why)).text());
}

void JsonReporter::mode_reported(device::UnitMode mode) {
    output_.json(event("mode").add("mode", device::mode_name(mode)).text());
}

void JsonReporter::operation_started(const device::OperationStart& start) {
    progress_phase_ = start.phase;
    progress_percent_ = -1;
    output_.json(event("operation_started")
                     .add("operation", device::operation_name(start.kind))
                     .add("image", start.image_name)
                     .add("size", start.image_size)
                     .add("pages", start.pages)
                     .add("resumed", start.resumed)
                     .text());
}

void JsonReporter::page_sent(const device::PageSent& page) {
    if (!page.retry) return;
    output_.json(event("page_retried")
                     .add("phase", device::phase_name(page.phase))
                     .add("page", page.page)
                     .text());
}

void JsonReporter::progress(const device::Progress& p) {
    const int percent =
        p.pages == 0 ? 0 : static_cast<int>(std::uint64_t{p.pages_done} * 100 / p.pages);
    // A page is a fraction of a percent of a large image: one object per percent is enough.
    if (p.phase == progress_phase_ && percent == progress_percent_) return;
    progress_phase_ = p.phase;
    progress_percent_ = percent;
    output_.json(event("progress")
                     .add("phase", device::phase_name(p.phase))
                     .add("pages_done", p.pages_done)
                     .add("pages", p.pages)
                     .add("percent", percent)
                     .text());
}

void JsonReporter::unit_found(const UnitIdentity& unit, std::uint32_t) {
    auto line = event("unit");
    line.add("id", unit.id_utf8);
    if (unit.version) {
        const VersionFacts& v = *unit.version;
        line.add("version", v.version)
            .add("flash_type", v.flash_type)
            .add("flash_type_code", static_cast<int>(v.flash_type_code))
            .add("serial_number", std::int64_t{v.serial_number});
        if (v.crystal_hz)
            line.add("crystal", v.crystal).add("crystal_hz", std::int64_t{*v.crystal_hz});
        else
            line.add_null("crystal").add_null("crystal_hz");
    }
    line.add_raw("gps", setting_json(unit.gps))
        .add_raw("internal", setting_json(unit.internal))
        .add_raw("external", setting_json(unit.external));
    output_.json(line.text());
}

void JsonReporter::waiting(Waiting what) {
    output_.json(event("waiting").add("for", what == Waiting::port ? "port" : "next_unit").text());
}

void JsonReporter::records_waiting(const std::string& since, const std::string& why) {
    output_.json(event("records_waiting").add("since", since).add("message", why).text());
}

void JsonReporter::records_back() {
    output_.json(event("records_back").text());
}

void JsonReporter::unit_left_in_place(const UnitIdentity& unit) {
    auto line = event("remove_unit");
    line.add("id", unit.id_utf8);
    if (unit.version)
        line.add("serial_number", std::int64_t{unit.version->serial_number});
    else
        line.add_null("serial_number");
    output_.json(line.text());
}

void JsonReporter::id_chosen(const IdChosen& chosen) {
    if (chosen.reserved) {
        output_.json(event("id_reserved")
                         .add("id", chosen.id)
                         .add("source", id_source_name(chosen.source))
                         .add("serial_number", std::int64_t{chosen.serial_number})
                         .add("run_key", chosen.run_key)
                         .text());
    } else if (chosen.source == IdSource::records && chosen.id != chosen.id_before) {
        // The records know the unit by its serial number: it gets their ID back.
        output_.json(event("id_from_records")
                         .add("id", chosen.id)
                         .add("id_before", chosen.id_before)
                         .add("serial_number", std::int64_t{chosen.serial_number})
                         .add("run_key", chosen.run_key)
                         .text());
    }
}

void JsonReporter::ids_running_out(const std::string& scheme, std::uint64_t left) {
    output_.json(event("ids_running_out")
                     .add("scheme", scheme)
                     .add("left", static_cast<std::int64_t>(left))
                     .text());
}

void JsonReporter::step_finished(const StepEnd& end) {
    output_.json(event("step")
                     .add("step", recipe_step_name(end.step))
                     .add("result", end.result)
                     .add("message", end.message)
                     .text());
}

void JsonReporter::record_written(const RecordWritten& record) {
    auto line = event("record");
    line.add("run_key", record.run_key)
        .add("state", record.completed ? "completed" : "begun")
        .add("database", record.database);
    if (record.completed) line.add("result", record.result);
    output_.json(line.text());
}

void JsonReporter::setting_answered(const SettingAnswer& answer) {
    auto line = event("setting");
    line.add("setting", device::setting_name(answer.setting));
    if (answer.setting != device::Setting::unit_id) line.add("code", static_cast<int>(answer.code));
    line.add("text", answer.text).add("confirmed", answer.confirmed);
    output_.json(line.text());
}

void JsonReporter::unit_finished(const UnitOutcome& outcome) {
    auto line = event("finished");
    line.add("command", command_name(outcome.command))
        .add("result", outcome.result)
        .add("ok", outcome.ok())
        .add("exit_code", outcome.exit_code)
        .add("message", outcome.message);
    if (outcome.unit && outcome.unit->version) {
        const UnitIdentity& unit = *outcome.unit;
        line.add("id", unit.id_utf8)
            .add("serial_number", std::int64_t{unit.version->serial_number})
            .add("version", unit.version->version)
            .add("flash_type", unit.version->flash_type)
            .add_raw("settings", JsonLine()
                                     .add_raw("gps", setting_json(unit.gps))
                                     .add_raw("internal", setting_json(unit.internal))
                                     .add_raw("external", setting_json(unit.external))
                                     .text());
    } else {
        line.add_null("id")
            .add_null("serial_number")
            .add_null("version")
            .add_null("flash_type")
            .add_null("settings");
    }
    if (outcome.program) {
        const ProgramFacts& p = *outcome.program;
        const auto optional_text = [&line](std::string_view key, const auto& value) {
            if (value)
                line.add(key, *value);
            else
                line.add_null(key);
        };
        line.add("run_key", p.run_key);
        optional_text("id_before", p.id_before);
        optional_text("id_after", p.id_after);
        line.add_raw("steps", JsonLine()
                                  .add("download", p.steps.download)
                                  .add("id", p.steps.id)
                                  .add("settings", p.steps.settings)
                                  .add("then", p.steps.then)
                                  .text());
    }
    if (outcome.transfer) {
        const TransferFacts& t = *outcome.transfer;
        line.add("operation", device::operation_name(t.operation))
            .add("image", t.image)
            .add("image_size", t.image_size)
            .add("image_sha256", t.image_sha256)
            .add("pages_done", t.pages_done)
            .add("pages", t.pages);
    }
    line.add("duration_ms", outcome.duration_ms).add("tool_version", VRK_VERSION_TEXT);
    output_.json(line.text());
}

}  // namespace vrk::cli
