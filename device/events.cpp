#include "device/events.h"

#include <algorithm>

namespace vrk::device {

void EventHub::add(EngineObserver& observer) {
    if (std::find(observers_.begin(), observers_.end(), &observer) == observers_.end())
        observers_.push_back(&observer);
}

namespace {

// An observer may add another from inside an event: indexing keeps the walk valid where the
// vector grows, and the one added hears from the next event on.
template <typename Call>
void each(const std::vector<EngineObserver*>& observers, Call call) {
    const std::size_t n = observers.size();
    for (std::size_t i = 0; i < n; ++i) call(*observers[i]);
}

}  // namespace

void EventHub::link_up(std::uint32_t baud) {
    each(observers_, [&](EngineObserver& o) { o.link_up(baud); });
}

void EventHub::link_lost(link::LinkLoss why) {
    each(observers_, [&](EngineObserver& o) { o.link_lost(why); });
}

void EventHub::version_reported(const VersionReport& r) {
    each(observers_, [&](EngineObserver& o) { o.version_reported(r); });
}

void EventHub::setting_reported(const SettingReport& r) {
    each(observers_, [&](EngineObserver& o) { o.setting_reported(r); });
}

void EventHub::mode_reported(UnitMode mode) {
    each(observers_, [&](EngineObserver& o) { o.mode_reported(mode); });
}

void EventHub::operation_started(const OperationStart& s) {
    each(observers_, [&](EngineObserver& o) { o.operation_started(s); });
}

void EventHub::page_sent(const PageSent& p) {
    each(observers_, [&](EngineObserver& o) { o.page_sent(p); });
}

void EventHub::progress(const Progress& p) {
    each(observers_, [&](EngineObserver& o) { o.progress(p); });
}

void EventHub::operation_finished(const OperationEnd& e) {
    each(observers_, [&](EngineObserver& o) { o.operation_finished(e); });
}

void EventHub::operation_refused(const OperationEnd& e) {
    each(observers_, [&](EngineObserver& o) { o.operation_refused(e); });
}

void EventHub::status_changed(std::string_view text) {
    each(observers_, [&](EngineObserver& o) { o.status_changed(text); });
}

std::string_view result_name(Result result) {
    switch (result) {
        case Result::success:
            return "success";
        case Result::mismatch:
            return "mismatch";
        case Result::not_responding:
            return "not_responding";
        case Result::link_lost:
            return "link_lost";
        case Result::port_lost:
            return "port_lost";
        case Result::interrupted:
            return "interrupted";
        case Result::file_not_found:
            return "file_not_found";
        case Result::file_unreadable:
            return "file_unreadable";
        case Result::file_empty:
            return "file_empty";
        case Result::file_too_large:
            return "file_too_large";
    }
    return "unknown";
}

std::string_view phase_name(Phase phase) {
    switch (phase) {
        case Phase::idle:
            return "idle";
        case Phase::erasing:
            return "erasing";
        case Phase::programming:
            return "programming";
        case Phase::comparing:
            return "comparing";
        case Phase::verifying:
            return "verifying";
    }
    return "unknown";
}

std::string_view operation_name(OperationKind kind) {
    switch (kind) {
        case OperationKind::download:
            return "download";
        case OperationKind::download_and_verify:
            return "download_and_verify";
        case OperationKind::compare:
            return "compare";
    }
    return "unknown";
}

std::string_view mode_name(UnitMode mode) {
    switch (mode) {
        case UnitMode::qb7:
            return "qb7";
        case UnitMode::application_running:
            return "application_running";
    }
    return "unknown";
}

std::string_view loss_name(link::LinkLoss why) {
    switch (why) {
        case link::LinkLoss::modem_lines:
            return "modem_lines";
        case link::LinkLoss::mode_report:
            return "mode_report";
        case link::LinkLoss::port_lost:
            return "port_lost";
    }
    return "unknown";
}

std::string_view setting_name(Setting setting) {
    switch (setting) {
        case Setting::unit_id:
            return "id";
        case Setting::gps_type:
            return "gps";
        case Setting::internal_device:
            return "internal";
        case Setting::external_device:
            return "external";
    }
    return "unknown";
}

}  // namespace vrk::device
