#include "device/device_tables.h"

#include <array>
#include <cstdio>

namespace vrk::device {

namespace {

constexpr device_entry internal_rows[] = {
    {0, " None"},
    {1, "Computer"},
    {2, "Mobitex"},
    {27, "Mobitex-Old PS"},
    {3, "KWM/PacComm"},
    {4, "Phone"},
    {9, "Phone @ 19200"},
    {5, "SMS-M1"},
    {6, "SMS"},
    {10, "SMS-4800"},
    {7, "MPT"},
    {8, "MAP27"},
    {11, "CDPD-Sierra"},
    {12, "CDPD-NovaTel"},
    {14, "SB320-CDPD"},
    {15, "SB320-AMPS"},
    {17, "GM12"},
    {18, "LM4115"},
    {20, "iDEN"},
    {33, "iO1000"},
    {49, "iO270"},
    {55, "iO270 Direct"},
    {23, "Lancer"},
    {25, "Expedite"},
    {34, "Expedite @ 19200"},
    {26, "WaveCom"},
    {36, "WaveCom-GPRS"},
    {30, "VRK Pipe"},
    {35, "CDMA"},
    {37, "CDMA-SMS"},
    {38, "GM47/GM48"},
    {41, "Kyocera"},
    {46, "MC45"},
    {47, "MC75"},
    {52, "GR64"},
    {53, "GE864"},
    {54, "Enfora"},
    {57, "Q2438F"},
};
static_assert(std::size(internal_rows) == 38);

// Row 50 is Hebrew in the Windows-1255 code page, kept as the unit's documentation gives it:
// the view decodes it for display, the list keeps and compares the bytes.
constexpr device_entry external_rows[] = {
    {1, "Computer"},
    {11, "SLIP"},
    {13, "Nelto Modem"},
    {16, "Cameo2"},
    {19, "RDTE"},
    {21, "Bar Code"},
    {22, "Diag Plug"},
    {24, "InMarSat D+"},
    {28, "UDP Session @ 9600"},
    {29, "UDP Session @ 1200"},
    {31, "PPP"},
    {32, "Panel"},
    {39, "MicroLog"},
    {40, "NMEA Output"},
    {42, "RF Card"},
    {44, "RF Tag"},
    {43, "iBus"},
    {45, "Monitor"},
    {48, "1-Wire"},
    {50, "\xF8\xE1\x20\xE1\xF8\xE9\xE7"},
    {51, "Lumiplan"},
    {56, "Track2Reader"},
    {58, "PolyComp - 4 lines"},
    {59, "Garmin"},
};
static_assert(std::size(external_rows) == 24);

constexpr device_entry gps_rows[] = {
    {0, "TSIP"}, {4, "TSIP 8N1"}, {1, "SiRF"}, {3, "SiRF @ 19200"}, {2, "Zodiac"},
};
static_assert(std::size(gps_rows) == 5);

constexpr std::array<std::uint8_t, 6> two_meg_codes = {0x28, 0x2B, 0x2D, 0x2E, 0x62, 0x64};
constexpr std::array<std::uint8_t, 6> one_meg_codes = {0x4A, 0x5B, 0x85, 0x86, 0xCB, 0xDA};

}  // namespace

std::span<const device_entry> internal_device_table() {
    return internal_rows;
}
std::span<const device_entry> external_device_table() {
    return external_rows;
}
std::span<const device_entry> gps_type_table() {
    return gps_rows;
}

const device_entry* find_device(std::span<const device_entry> table, std::uint8_t code) {
    for (const device_entry& row : table)
        if (row.code == code) return &row;
    return nullptr;
}

std::string_view flash_type_name(std::uint8_t code, char (&scratch)[4]) {
    for (std::uint8_t c : two_meg_codes)
        if (c == code) return "2 Meg";
    for (std::uint8_t c : one_meg_codes)
        if (c == code) return "1 Meg";
    const int n = std::snprintf(scratch, sizeof scratch, "%d", code);
    return std::string_view(scratch, static_cast<std::size_t>(n));
}

}  // namespace vrk::device
