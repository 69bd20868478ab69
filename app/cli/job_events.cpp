#include "app/cli/job_events.h"

namespace vrk::cli {

void JobObservers::waiting(Waiting what) {
    for (JobObserver* o : observers_) o->waiting(what);
}
void JobObservers::records_waiting(const std::string& since, const std::string& why) {
    for (JobObserver* o : observers_) o->records_waiting(since, why);
}
void JobObservers::records_back() {
    for (JobObserver* o : observers_) o->records_back();
}
void JobObservers::unit_found(const UnitIdentity& unit, std::uint32_t baud) {
    for (JobObserver* o : observers_) o->unit_found(unit, baud);
}
void JobObservers::unit_left_in_place(const UnitIdentity& unit) {
    for (JobObserver* o : observers_) o->unit_left_in_place(unit);
}
void JobObservers::step_started(RecipeStep step) {
    for (JobObserver* o : observers_) o->step_started(step);
}
void JobObservers::ids_running_out(const std::string& scheme, std::uint64_t left) {
    for (JobObserver* o : observers_) o->ids_running_out(scheme, left);
}

void JobObservers::id_chosen(const IdChosen& chosen) {
    for (JobObserver* o : observers_) o->id_chosen(chosen);
}
void JobObservers::setting_answered(const SettingAnswer& answer) {
    for (JobObserver* o : observers_) o->setting_answered(answer);
}
void JobObservers::step_finished(const StepEnd& end) {
    for (JobObserver* o : observers_) o->step_finished(end);
}
void JobObservers::record_written(const RecordWritten& record) {
    for (JobObserver* o : observers_) o->record_written(record);
}
void JobObservers::unit_finished(const UnitOutcome& outcome) {
    for (JobObserver* o : observers_) o->unit_finished(outcome);
}
void JobObservers::hook_ended(const HookEnded& hook) {
    for (JobObserver* o : observers_) o->hook_ended(hook);
}

}  // namespace vrk::cli
