#include "app/cli/job_events.h"

namespace vrk::cli {

std::string_view recipe_step_name(RecipeStep step) {
    switch (step) {
        case RecipeStep::download:
            return "download";
        case RecipeStep::id:
            return "id";
        case RecipeStep::settings:
            return "settings";
        case RecipeStep::then:
            break;
    }
    return "then";
}

std::string_view id_source_name(IdSource source) {
    switch (source) {
        case IdSource::fixed:
            return "fixed";
        case IdSource::scheme:
            return "scheme";
        case IdSource::carried:
            return "carried";
        case IdSource::records:
            break;
    }
    return "records";
}

void JobObservers::waiting(Waiting what) {
    for (JobObserver* o : observers_) o->waiting(what);
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

}  // namespace vrk::cli
