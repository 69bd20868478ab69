// The message catalogue: every message the program and the unit exchange. Byte 0 of a message
// is its type; the frame carries the length. Several types travel both ways with one layout:
// the program sends them to set a value and the unit sends them to report it.
//
// The catalogue sits in the link layer because the link speaks one message itself (the ID
// query that probes for the unit) and the simulator, which links only the codec, speaks them
// all; the device layer handles the rest.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vrk::link::messages {

// Types.
inline constexpr std::uint8_t ANNOUNCE = 0x00;
inline constexpr std::uint8_t VERSION_QUERY = 0x01;
inline constexpr std::uint8_t VERSION_REPORT = 0x02;
inline constexpr std::uint8_t ID_MESSAGE = 0x0B;
inline constexpr std::uint8_t INTERNAL_DEVICE_QUERY = 0x14;
inline constexpr std::uint8_t INTERNAL_DEVICE = 0x15;
inline constexpr std::uint8_t GPS_TYPE_QUERY = 0x16;
inline constexpr std::uint8_t GPS_TYPE = 0x17;
inline constexpr std::uint8_t EXTERNAL_DEVICE_QUERY = 0x18;
inline constexpr std::uint8_t EXTERNAL_DEVICE = 0x19;
inline constexpr std::uint8_t ENTER_QB7_MODE = 0x1E;
inline constexpr std::uint8_t QB7_MODE_REPORT = 0x1F;
inline constexpr std::uint8_t RUN_APPLICATION = 0x20;
inline constexpr std::uint8_t APPLICATION_RUNNING = 0x21;
inline constexpr std::uint8_t ERASE = 0x28;
inline constexpr std::uint8_t ERASE_DONE = 0x29;
inline constexpr std::uint8_t PROGRAM_PAGE = 0x2A;
inline constexpr std::uint8_t PAGE_PROGRAMMED = 0x2B;
inline constexpr std::uint8_t ERASE_BLOCKS = 0x2C;
inline constexpr std::uint8_t PROGRAM_PAGE_WIDE = 0x2D;
inline constexpr std::uint8_t PAGE_PROGRAMMED_WIDE = 0x2E;
inline constexpr std::uint8_t COMPARE_PAGE = 0x2F;
inline constexpr std::uint8_t PAGE_COMPARED = 0x30;

// Exact lengths. A received message of a listed type at any other length is ignored.
inline constexpr std::size_t REQUEST_LENGTH = 2;  // queries, mode requests, device sets, erases
inline constexpr std::size_t ID_MESSAGE_LENGTH = 10;
inline constexpr std::size_t VERSION_REPORT_SHORT_LENGTH = 8;
inline constexpr std::size_t VERSION_REPORT_LONG_LENGTH = 12;
inline constexpr std::size_t PAGE_SIZE = 256;
inline constexpr std::size_t PROGRAM_PAGE_LENGTH = 2 + PAGE_SIZE;       // 258
inline constexpr std::size_t PROGRAM_PAGE_WIDE_LENGTH = 4 + PAGE_SIZE;  // 260
inline constexpr std::size_t COMPARE_PAGE_LENGTH = 4 + PAGE_SIZE;       // 260
inline constexpr std::size_t PAGE_PROGRAMMED_LENGTH = 2;
inline constexpr std::size_t PAGE_PROGRAMMED_WIDE_LENGTH = 4;
inline constexpr std::size_t PAGE_COMPARED_LENGTH = 4;
inline constexpr std::size_t LONGEST_SENT_MESSAGE = 260;

// Byte 1 of a request that carries no parameter; the unit does not read it.
inline constexpr std::uint8_t NO_PARAMETER = 0x00;

}  // namespace vrk::link::messages
