// Ids of the controls of the program's two dialogs: the contract between the dialog templates
// (app/res/), the views that draw them and the engine that fills them. The values are those of
// the dialog templates.
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
// The progress of a download or compare, under the status line; shown only while one runs.
inline constexpr int PROGRESS = 1020;
inline constexpr int PROGRESS_TEXT = 1021;
// Whether Download compares every page after programming it; checked when the window opens.
inline constexpr int VERIFY = 1022;

// Port selection dialog "SELECTPORT".
inline constexpr int PORT_LIST = 1000;
inline constexpr int OK = 1;
inline constexpr int CANCEL = 2;

// Labels have no id of their own.
inline constexpr int STATIC = -1;

}  // namespace vrk::ids
