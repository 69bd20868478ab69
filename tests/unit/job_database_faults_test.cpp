// vrk program when the station's database cannot be written, in virtual time: a file system
// mounted read-only, a read-only file, a folder where no file may be made and a full disk,
// each at each moment the records are written (opening, a row's start, an ID's reservation, a
// row's completion). Each is named as what it is, ends the run with exit code 5, and no unit
// is touched once its row cannot be written.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cerrno>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/station/station_store.h"
#include "platform/machine.h"
#include "sim/demo_image.h"
#include "tests/support/failing_vfs.h"
#include "tests/support/job_rig.h"

namespace vrk::test {
namespace {

using platform::WriteBlock;

enum class Moment { opening, row_start, reservation, row_completion };

// Where the fault strikes: before the run (opening), when the unit is found (its row is
// begun next), once its row is begun (the ID is decided next and reserved after the download),
// as its last step starts.
class Striker final : public cli::JobObserver {
  public:
    Striker(Moment moment, std::function<void()> strike)
        : moment_(moment), strike_(std::move(strike)) {}
    void unit_found(const cli::UnitIdentity&, std::uint32_t) override {
        if (moment_ == Moment::row_start) strike_();
    }
    void record_written(const cli::RecordWritten& record) override {
        if (moment_ == Moment::reservation && !record.completed) strike_();
    }
    void step_started(cli::RecipeStep step) override {
        if (moment_ == Moment::row_completion && step == cli::RecipeStep::then) strike_();
    }

  private:
    Moment moment_;
    std::function<void()> strike_;
};

struct Fault {
    std::string name;
    // As the medium fails when the database is opened, and when it is written later.
    std::function<void(VfsFaults&)> at_open, later;
    std::string message;
};

void PrintTo(const Fault& f, std::ostream* out) {
    *out << f.name;
}

const std::vector<Fault>& faults() {
    static const std::vector<Fault> table = {
        {"read_only_file_system",
         [](VfsFaults& f) {
             f.read_only = true;
             f.no_side_files = true;
             f.system_errno = EROFS;
             f.medium = static_cast<int>(WriteBlock::read_only_medium);
         },
         [](VfsFaults& f) {
             f.write_error = SQLITE_IOERR_WRITE;
             f.system_errno = EROFS;
             f.medium = static_cast<int>(WriteBlock::read_only_medium);
         },
         "cannot be written: its file system is mounted read-only"},
        {"read_only_file",
         [](VfsFaults& f) {
             f.read_only = true;
             f.medium = static_cast<int>(WriteBlock::read_only_file);
         },
         [](VfsFaults& f) {
             f.write_error = SQLITE_READONLY;
             f.medium = static_cast<int>(WriteBlock::read_only_file);
         },
         "cannot be written: the file is read-only"},
        {"folder_that_cannot_be_written",
         [](VfsFaults& f) {
             f.no_side_files = true;
             f.system_errno = EACCES;
             f.medium = static_cast<int>(WriteBlock::folder_not_writable);
         },
         [](VfsFaults& f) {
             f.write_error = SQLITE_IOERR_WRITE;
             f.system_errno = EACCES;
             f.medium = static_cast<int>(WriteBlock::folder_not_writable);
         },
         "cannot be written: its folder"},
        // The WAL's shared memory is what a full disk fails first when the file is opened.
        {"full_disk",
         [](VfsFaults& f) {
             f.no_side_files = true;
             f.system_errno = ENOSPC;
             f.medium = static_cast<int>(WriteBlock::disk_full);
         },
         [](VfsFaults& f) {
             f.write_error = SQLITE_FULL;
             f.system_errno = ENOSPC;
         },
         "cannot be written: the disk is full"},
        // A little space left: what is written does not fit, the medium says it has room.
        {"nearly_full_disk", [](VfsFaults& f) { f.write_error = SQLITE_FULL; },
         [](VfsFaults& f) { f.write_error = SQLITE_FULL; }, "cannot be written: the disk is full"},
    };
    return table;
}

class DatabaseFault : public ::testing::TestWithParam<std::tuple<Fault, Moment>> {
  protected:
    void TearDown() override { failing_vfs_faults().clear(); }
};

TEST_P(DatabaseFault, IsNamedAndTouchesNoUnitAfter) {
    const auto& [fault, moment] = GetParam();
    JobRig rig;
    const Bytes image = sim::make_demo_image(5000, 3);
    rig.files.files["app.vr4"] = image;
    rig.socket.plug_in(unit_with_serial(70012));
    const std::vector<std::string> args = {"program", "app.vr4", "--id-format", "L1{:05}",
                                           "--then",  "run",     "--db",        rig.db_path};
    {
        // The station has used the database before: it exists, with its tables.
        cli::StoreError error;
        ASSERT_TRUE(cli::open_station_store(rig.db_path, cli::StoreAccess::station, &error))
            << error.message;
    }
    if (moment == Moment::opening) fault.at_open(failing_vfs_faults());
    Striker striker(moment, [&] { fault.later(failing_vfs_faults()); });
    const JobRun run = rig.run(args, &striker);
    failing_vfs_faults().clear();

    EXPECT_EQ(run.exit_code, cli::EXIT_DATABASE) << run.err;
    EXPECT_NE(run.err.find("the station database " + rig.db_path + " " + fault.message),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out.find("passed"), std::string::npos) << run.out;
    sim::UnitEnd& unit = *rig.socket.unit();
    // Nothing was sent to the unit once its row could not be begun; an ID that could not be
    // reserved was never set (the image, downloaded before, stays).
    if (moment != Moment::row_completion) {
        EXPECT_EQ(unit.unit_id(), "VRK00042");
        EXPECT_EQ(unit.flash_copy(5000) == image, moment == Moment::reservation);
    }
    auto records = rig.records();
    ASSERT_TRUE(records);
    std::vector<cli::RunRecord> rows;
    ASSERT_TRUE(
        records->for_each_run({}, [&](const cli::RunRecord& r) { rows.push_back(r); }).ok());
    for (const cli::RunRecord& row : rows)
        EXPECT_FALSE(row.end && row.end->result == "success") << "never recorded as passed";
}

std::string moment_name(Moment moment) {
    switch (moment) {
        case Moment::opening:
            return "opening";
        case Moment::row_start:
            return "row_start";
        case Moment::reservation:
            return "reservation";
        case Moment::row_completion:
            return "row_completion";
    }
    return "";
}

INSTANTIATE_TEST_SUITE_P(AtEachMoment, DatabaseFault,
                         ::testing::Combine(::testing::ValuesIn(faults()),
                                            ::testing::Values(Moment::opening, Moment::row_start,
                                                              Moment::reservation,
                                                              Moment::row_completion)),
                         [](const auto& test) {
                             return std::get<0>(test.param).name + "_at_" +
                                    moment_name(std::get<1>(test.param));
                         });

}  // namespace
}  // namespace vrk::test
