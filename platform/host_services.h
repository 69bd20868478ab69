// Modal interactions with the person at the desk. The Qt view implements them; tests script
// them. A modal box opened inside a poll cycle keeps the timer running: the poll guard drops
// those ticks, so implementations need not stop the timer.
//
// Threads: the window's, only. The boxes and dialogs are the GUI toolkit's, which must be used
// from the thread that runs its event loop; the window's single session runs there too.
#pragma once

#include <optional>
#include <string>

namespace vrk::platform {

enum class MessageButtons { ok, yes_no };
enum class MessageIcon { none, error, question, information };
enum class MessageAnswer { ok, yes, no };

struct SaveFileRequest {
    std::string initial_path;        // proposed full path; its directory is where the dialog opens
    std::string filter_description;  // "VRK BIOS Macro Files (*.vbm)"
    std::string filter_pattern;      // "*.vbm"
    std::string default_extension;   // "vbm", added when the user types a name without one
    bool overwrite_prompt = true;    // ask before replacing an existing file
};

class HostServices {
  public:
    virtual ~HostServices() = default;
    // An empty caption means the system's default caption ("Error").
    virtual MessageAnswer message_box(const std::string& text, const std::string& caption,
                                      MessageButtons buttons, MessageIcon icon) = 0;
    // The simple beep.
    virtual void beep() = 0;
    // The chosen path, or nullopt when the user cancelled. Never changes the current directory.
    virtual std::optional<std::string> save_file_dialog(const SaveFileRequest& request) = 0;
};

}  // namespace vrk::platform
