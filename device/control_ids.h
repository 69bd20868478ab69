// Ids of the main window's controls, shared by every piece of the program that reads or
// writes the window. The values are those of the dialog template.
#pragma once

namespace vrk::ids {

// Main window "MAIN".
inline constexpr int FIRMWARE_VERSION = 1003;
inline constexpr int FLASH_TYPE = 1004;
inline constexpr int UNIT_ID = 1005;
inline constexpr int SERIAL_NUMBER = 1006;
inline constexpr int SEND_ID = 1007;
inline constexpr int CRYSTAL = 1008;
inline constexpr int INTERNAL_DEVICE = 1009;
inline constexpr int EXIT = 1010;
inline constexpr int QB7_MODE = 1011;
inline constexpr int RUN_APPLICATION = 1012;
inline constexpr int APPLICATION = 1013;
inline constexpr int DOWNLOAD = 1014;
inline constexpr int STATUS = 1015;
inline constexpr int GPS_TYPE = 1016;
inline constexpr int EXTERNAL_DEVICE = 1017;
inline constexpr int COMPARE = 1018;
inline constexpr int RECORD = 1019;

// Port selection dialog "SELECTPORT".
inline constexpr int PORT_LIST = 1000;
inline constexpr int OK = 1;
inline constexpr int CANCEL = 2;

// Labels have no id of their own.
inline constexpr int STATIC = -1;

}  // namespace vrk::ids
