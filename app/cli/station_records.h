// What program writes of a unit into the station's records, and the recipe's checks: pure
// helpers of the flow, which makes the store's calls at their moments (the row begun before
// the unit is touched, completed before it is shown passed).
#pragma once

#include <optional>
#include <string>

#include "app/cli/job_plan.h"
#include "app/cli/station/recipe.h"
#include "app/cli/station/station_store.h"
#include "app/cli/unit_identity.h"

namespace vrk::cli {

// The row of a unit's run as it starts. `unit` nullptr: a unit whose identity never agreed,
// recorded without it.
[[nodiscard]] RunStart run_start(const JobPlan& plan, const std::string& port,
                                 const std::string& run_key, const UnitIdentity* unit);

// Why the unit fails the recipe's checks, or nullopt when it passes them.
[[nodiscard]] std::optional<std::string> check_failure(const RecipeChecks& checks,
                                                       const VersionFacts& version);

// The steps of a recipe before any is done: not_asked for those the recipe does not have,
// empty (not reached) for the others.
[[nodiscard]] RunSteps steps_of(const JobPlan& plan);
// The steps never reached once the run has ended: skipped (an earlier step failed, or the
// unit was not touched).
void mark_skipped(RunSteps& steps);

}  // namespace vrk::cli
