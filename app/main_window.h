// The main window's logic: initialisation, command routing and the timer tick with its poll
// guard. The front-end draws the controls model and feeds it the user's actions; the session
// calls these.
#pragma once

#include <string_view>

#include "app/context.h"
#include "platform/controls_model.h"
#include "vrk_version.h"

namespace vrk::app {

inline constexpr const char* MAIN_CAPTION = "VRK 700 Configuration " VRK_VERSION_TEXT;

// The main window's model as built from its template, with what every session's window holds
// alike: the ID box's limit and the three device lists. Built once; every session (and every
// restart of one) starts from a copy. Safe to call from any thread.
[[nodiscard]] const platform::ControlsModel& built_main_window();

// Initialisation of a built window for its session: macro path, image list, command-line
// preselection, the first status text, and the command routing. The caller starts the timer
// afterwards.
void init_main_window(Context& ctx, std::string_view command_line);

// Routes one control command to the operation it stands for.
void on_command(Context& ctx, int id, platform::Notification notification);

// One timer tick: runs poll_port unless a poll is already running further down the stack (a
// message box opened inside a poll keeps ticking); ends the window when the poll asks.
void on_timer_tick(Context& ctx);

// The folder of the image a command line names (without quotes, with its last separator), or
// empty when it names none.
[[nodiscard]] std::string_view command_line_folder(std::string_view command_line);

// The image name a command line preselects: without enclosing quotes and without drive and
// directory. Empty when nothing is to be selected.
[[nodiscard]] std::string_view command_line_file_name(std::string_view command_line);

}  // namespace vrk::app
