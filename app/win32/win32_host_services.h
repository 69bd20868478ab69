// The host services on Windows: the system's message box, beep and save dialog. Texts go to the
// W functions as UTF-16 (see platform/win32/wide_text.h), so paths and the unit's texts show
// as they are whatever the machine's ANSI code page.
#pragma once

#include "platform/host_services.h"

namespace vrk::win32 {

class Win32HostServices final : public platform::HostServices {
  public:
    platform::MessageAnswer message_box(const std::string& text, const std::string& caption,
                                        platform::MessageButtons buttons,
                                        platform::MessageIcon icon) override;
    void beep() override;
    std::optional<std::string> save_file_dialog(const platform::SaveFileRequest& request) override;

    // The dialog that owns the boxes (an HWND; null: none, as for the no-port box). The
    // running dialog sets it, so that a box blocks it and stays above it.
    void set_owner(void* window) { owner_ = window; }
    [[nodiscard]] void* owner() const { return owner_; }

  private:
    void* owner_ = nullptr;
};

}  // namespace vrk::win32
