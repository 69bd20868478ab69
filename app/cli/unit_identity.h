// The unit on a port as it reported itself since the link came up, gathered from the engine's
// events: its ID, its version report (firmware, flash type, serial number, crystal) and its
// three device settings. A job records, checks and numbers units by this, so it must be what
// the unit holds, not a report garbled on a noisy line: ReportAgreement asks again until two
// consecutive reports agree.
//
// Pure code fed by events; one job's thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>

#include "app/cli/station/device_codes.h"
#include "device/events.h"

namespace vrk::cli {

// One device setting as the unit reported it.
struct SettingValue {
    bool known = false;  // reported since the link came up
    std::uint8_t code = 0;
    std::string text;  // the list's text as UTF-8; empty for a code the list does not have
    friend bool operator==(const SettingValue&, const SettingValue&) = default;
};

// The version report's fields. Two reports are the same report when every field the unit sent
// is equal (the crystal too, when the long form carries it); the texts follow from the fields.
struct VersionFacts {
    std::uint8_t flash_type_code = 0;
    std::int16_t version_hundredths = 0;
    std::int32_t serial_number = 0;
    std::optional<std::int32_t> crystal_hz;  // the long report only
    std::string version;                     // "2.15"
    std::string flash_type;                  // "2 Meg"
    std::string crystal;                     // "14.7456 MHz"; empty without the crystal

    [[nodiscard]] static VersionFacts of(const device::VersionReport& report);
    [[nodiscard]] bool same_report(const VersionFacts& other) const;
};

struct UnitIdentity {
    std::optional<std::string> id;  // in the unit's code page, as it travels
    std::string id_utf8;
    std::optional<VersionFacts> version;
    SettingValue gps, internal, external;

    // The probe's ID report, the version and the three settings have all come.
    [[nodiscard]] bool complete() const {
        return id && version && gps.known && internal.known && external.known;
    }
    [[nodiscard]] DeviceCodes codes() const;
    [[nodiscard]] const SettingValue& setting(device::Setting which) const;
};

// Fills an identity from the engine's reports.
void take_report(UnitIdentity& unit, const device::VersionReport& report);
// "TSIP (0x01)", or "(not in the list) (0x2B)" for a code the list does not have.
[[nodiscard]] std::string value_text(const SettingValue& value);
void take_report(UnitIdentity& unit, const device::SettingReport& report);

// How many reports of a kind are looked at before a unit's word is given up on, and how long an
// asking waits for its answer before it counts as unanswered.
inline constexpr unsigned AGREEMENT_ATTEMPTS = 5;
inline constexpr std::uint32_t ASK_AGAIN_MS = 1'500;

enum class Agreement { pending, agreed, failed };

// One kind of report (the ID, the version report) asked for until two consecutive reports
// agree. A report garbled on the line is believed only if the next one says the same, and
// two garbled alike are as unlikely as the noise is rare. At most AGREEMENT_ATTEMPTS
// attempts: each report counts, and so does an asking that got no answer within its time; the
// whole within a time limit (0: none). Pure: the caller sends the asking.
template <typename Value>
class ReportAgreement {
  public:
    // Starts over at `now`. `first_answer_ms` non-zero: a request that the unit answers with
    // this kind of report is on its way already (an ID set), its answer awaited that long.
    void start(std::uint32_t now, std::uint32_t time_limit_ms, std::uint32_t first_answer_ms = 0) {
        *this = ReportAgreement{};
        started_ = now;
        time_limit_ms_ = time_limit_ms;
        if (first_answer_ms != 0) {
            attempts_ = 1;
            outstanding_ = true;
            asked_at_ = now;
            answer_ms_ = first_answer_ms;
        }
    }

    // A report came (asked for or not).
    void report(const Value& value) {
        if (state_ != Agreement::pending) return;
        if (outstanding_)
            outstanding_ = false;  // the answer to the asking, counted when it was sent
        else
            ++attempts_;
        if (last_ && same(*last_, value)) {
            state_ = Agreement::agreed;
        } else if (attempts_ >= AGREEMENT_ATTEMPTS) {
            state_ = Agreement::failed;
        }
        last_ = value;
    }

    // Whether to ask now; the asking counts as an attempt. Ends the agreement as failed once
    // the attempts or the time are spent.
    [[nodiscard]] bool ask(std::uint32_t now) {
        if (state_ != Agreement::pending) return false;
        if (time_limit_ms_ != 0 && now - started_ > time_limit_ms_) {
            state_ = Agreement::failed;
            return false;
        }
        if (outstanding_) {
            if (now - asked_at_ <= answer_ms_) return false;
            outstanding_ = false;  // no answer: that attempt is spent
        }
        if (attempts_ >= AGREEMENT_ATTEMPTS) {
            state_ = Agreement::failed;
            return false;
        }
        ++attempts_;
        outstanding_ = true;
        asked_at_ = now;
        answer_ms_ = ASK_AGAIN_MS;
        return true;
    }

    [[nodiscard]] Agreement state() const { return state_; }
    // The value two consecutive reports agreed on (agreed), or the last report.
    [[nodiscard]] const std::optional<Value>& value() const { return last_; }
    [[nodiscard]] unsigned attempts() const { return attempts_; }

  private:
    static bool same(const Value& a, const Value& b) {
        if constexpr (std::is_same_v<Value, VersionFacts>)
            return a.same_report(b);
        else
            return a == b;
    }

    Agreement state_ = Agreement::pending;
    std::optional<Value> last_;
    unsigned attempts_ = 0;
    bool outstanding_ = false;
    std::uint32_t asked_at_ = 0;
    std::uint32_t answer_ms_ = ASK_AGAIN_MS;
    std::uint32_t started_ = 0;
    std::uint32_t time_limit_ms_ = 0;
};

}  // namespace vrk::cli
