#include "app/cli/station/station_store.h"

#include <array>
#include <random>

#include "platform/hex_text.h"

namespace vrk::cli {

std::string new_run_key() {
    // The system's entropy source: keys made at the same moment on two stations, or by two
    // processes of one, must not meet.
    std::random_device source;
    std::array<std::uint8_t, 16> bits{};
    for (std::size_t word = 0; word < bits.size(); word += 4) {
        const std::uint32_t random = source();
        for (std::size_t i = 0; i < 4; ++i)
            bits[word + i] = static_cast<std::uint8_t>(random >> (8 * i));
    }
    return platform::hex_text(bits, platform::HexCase::lower, '\0');
}

namespace {

StoreError takes_no_imports(const StationStore& store) {
    return {StoreFailure::cannot_open,
            "the station database " + store.location() +
                " takes no imports: vrk import brings a station's file into a line's database "
                "(--db postgresql://...)"};
}

}  // namespace

StoreResult<bool> StationStore::import_run(const RunRecord&) {
    return {false, takes_no_imports(*this)};
}

StoreResult<ImportedId> StationStore::import_id(const IdHolder&) {
    return {{}, takes_no_imports(*this)};
}

StoreResult<bool> StationStore::raise_counter(const CounterRecord&) {
    return {false, takes_no_imports(*this)};
}

bool is_line_database(std::string_view name) {
    return name.starts_with("postgresql://") || name.starts_with("postgres://");
}

std::string_view id_state_name(IdState state) {
    switch (state) {
        case IdState::reserved:
            return "reserved";
        case IdState::bound:
            return "bound";
        case IdState::spent:
            break;
    }
    return "spent";
}

std::optional<IdState> id_state_named(std::string_view name) {
    for (const IdState state : {IdState::reserved, IdState::bound, IdState::spent})
        if (name == id_state_name(state)) return state;
    return std::nullopt;
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

std::optional<IdSource> id_source_named(std::string_view name) {
    for (const IdSource source :
         {IdSource::fixed, IdSource::scheme, IdSource::carried, IdSource::records})
        if (name == id_source_name(source)) return source;
    return std::nullopt;
}

}  // namespace vrk::cli
