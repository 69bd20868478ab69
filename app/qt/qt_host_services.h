// The modal interactions with the person at the desk, as Qt dialogs: message boxes, the beep
// and the save-file dialog. Each runs its own event loop, so the main window's timer keeps
// ticking while one is open (the core's poll guard drops the ticks that would nest).
#pragma once

#include "platform/host_services.h"

namespace vrk::qt {

class QtHostServices final : public platform::HostServices {
  public:
    platform::MessageAnswer message_box(const std::string& text, const std::string& caption,
                                        platform::MessageButtons buttons,
                                        platform::MessageIcon icon) override;
    void beep() override;
    std::optional<std::string> save_file_dialog(const platform::SaveFileRequest& request) override;
};

// The caption a message box shows: the given one, or the system's default for none.
[[nodiscard]] std::string message_box_caption(const std::string& caption);

// Where a save dialog opens and what it proposes, from the proposed full path: a name with
// wildcards ("*.vbm", as first proposed) is a filter, not a name, and proposes nothing.
struct SaveDialogStart {
    std::string directory;  // empty: the current directory
    std::string file_name;  // empty: nothing proposed
};
[[nodiscard]] SaveDialogStart save_dialog_start(const std::string& initial_path);

// The filter line a save dialog shows: "Description (*.ext)", without repeating a pattern the
// description already names.
[[nodiscard]] std::string save_dialog_filter(const platform::SaveFileRequest& request);

}  // namespace vrk::qt
