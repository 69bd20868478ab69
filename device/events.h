// What the engine tells the front-ends. Every front-end (the window, the command-line tool, the
// Windows dialogs) learns what happens on the line through these events and through the
// controls model, never from the protocol itself: the window's status line and progress bar
// are consumers of these events, as is the command-line tool's output.
//
// Events are called on the session's thread, inside the call that caused them (a timer tick or
// a command). Texts passed as string_view live only for the call.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "link/link.h"

namespace vrk::device {

// The unit's four settings as the panel shows them.
enum class Setting { unit_id, gps_type, internal_device, external_device };

// The modes the unit can leave its configuration for.
enum class UnitMode { qb7, application_running };

struct VersionReport {
    std::uint8_t flash_type = 0;
    std::int16_t version_hundredths = 0;
    std::int32_t serial_number = 0;
    std::optional<std::int32_t> crystal_hz;  // the 12-byte report only
    // As the panel shows them.
    std::string_view version_text;
    std::string_view flash_type_text;
    std::string_view serial_text;
    std::string_view crystal_text;  // empty for the 8-byte report
};

struct SettingReport {
    Setting setting = Setting::unit_id;
    std::uint8_t code = 0;       // the device code; 0 for the ID
    std::string_view text;       // the ID, or the code's table text, in the unit's code page
    std::string_view text_utf8;  // the same as UTF-8 (one device row is Hebrew)
    bool known = true;           // a table row exists for the code (always for the ID)
    bool confirmation = false;   // equal to what was shown with the settings loaded: the unit
                                 // took a change
};

enum class OperationKind { download, download_and_verify, compare };

// The transfer engine's phase. Idle between operations; a download erases, then programs (and,
// with verify, compares every page); a compare compares.
enum class Phase { idle, erasing, programming, comparing, verifying };

enum class Result {
    success,
    mismatch,        // the unit reported a page different
    not_responding,  // 30 s without progress
    link_lost,       // the unit went away (CTS and DSR dropped) or left its configuration mode
    port_lost,       // the port itself vanished
    interrupted,     // cancelled by the user
    file_not_found,
    file_unreadable,
    file_empty,
    file_too_large,  // larger than the unit's page numbers reach, or than memory holds
};

struct OperationStart {
    OperationKind kind = OperationKind::download;
    Phase phase = Phase::idle;
    std::string_view image_name;
    std::uint32_t image_size = 0;
    std::uint32_t pages = 0;
    // A late reply from the unit took up an operation that had ended (a slow erase answering
    // after the time limit, for instance).
    bool resumed = false;
};

struct PageSent {
    Phase phase = Phase::idle;
    std::int32_t page = 0;  // 0-based; the status line counts from 1
    bool retry = false;     // sent again after 2 s without an answer
};

struct Progress {
    Phase phase = Phase::idle;
    std::uint32_t pages_done = 0;  // of this phase
    std::uint32_t pages = 0;
};

struct OperationEnd {
    OperationKind kind = OperationKind::download;
    Result result = Result::success;
    std::string_view image_name;
    std::string_view status_text;
    std::uint32_t pages_done = 0;  // in the last phase
    std::uint32_t pages = 0;
};

class EngineObserver {
  public:
    virtual ~EngineObserver() = default;
    virtual void link_up(std::uint32_t baud) { (void)baud; }
    virtual void link_lost(link::LinkLoss why) { (void)why; }
    virtual void version_reported(const VersionReport& report) { (void)report; }
    virtual void setting_reported(const SettingReport& report) { (void)report; }
    virtual void mode_reported(UnitMode mode) { (void)mode; }
    virtual void operation_started(const OperationStart& start) { (void)start; }
    virtual void page_sent(const PageSent& page) { (void)page; }
    virtual void progress(const Progress& progress) { (void)progress; }
    virtual void operation_finished(const OperationEnd& end) { (void)end; }
    // A start that never began (the image missing, unreadable, empty or too large).
    virtual void operation_refused(const OperationEnd& end) { (void)end; }
    // The status line's text changed (an empty text clears it).
    virtual void status_changed(std::string_view text) { (void)text; }
};

// Hands every event to every registered observer, in the order they were added. Observers stay
// for the engine's life: each must outlive the engine it is added to.
class EventHub final : public EngineObserver {
  public:
    void add(EngineObserver& observer);

    void link_up(std::uint32_t baud) override;
    void link_lost(link::LinkLoss why) override;
    void version_reported(const VersionReport& report) override;
    void setting_reported(const SettingReport& report) override;
    void mode_reported(UnitMode mode) override;
    void operation_started(const OperationStart& start) override;
    void page_sent(const PageSent& page) override;
    void progress(const Progress& progress) override;
    void operation_finished(const OperationEnd& end) override;
    void operation_refused(const OperationEnd& end) override;
    void status_changed(std::string_view text) override;

  private:
    std::vector<EngineObserver*> observers_;
};

// The questions and notices of the unit's mode reports. The window shows its boxes; the
// command-line tool answers without one.
class UnitPrompts {
  public:
    virtual ~UnitPrompts() = default;
    // The unit reports QB7 mode. Returns when the person has taken note; the link resets then.
    virtual void qb7_mode() = 0;
    // The unit runs its application. True ends the session; false resets the link.
    [[nodiscard]] virtual bool exit_when_application_runs() = 0;
};

// Stable names, for machine-readable output.
[[nodiscard]] std::string_view result_name(Result result);
[[nodiscard]] std::string_view phase_name(Phase phase);
[[nodiscard]] std::string_view operation_name(OperationKind kind);
[[nodiscard]] std::string_view setting_name(Setting setting);
[[nodiscard]] std::string_view mode_name(UnitMode mode);
[[nodiscard]] std::string_view loss_name(link::LinkLoss why);

}  // namespace vrk::device
