// What the GUI tests share: one QApplication for the whole run (offscreen), a window made
// active so keys reach the focus, and scripts that act on a modal window once it is up.
#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>

namespace vrk::test {

// Generous: the CI machine has two busy cores. Waits end as soon as their condition holds.
inline constexpr int GUI_DEADLINE_MS = 20000;

// Shows a window and waits until it is the active window, so that key presses go to its focus.
// False when it never became active.
[[nodiscard]] bool show_active(QWidget& window);

// Runs `act` on the first modal widget that `is_target` accepts, from inside whatever modal
// loop the test then starts. If none appears before the deadline, every modal widget is
// rejected so the test ends instead of hanging, and `failure` says so.
class ModalScript {
  public:
    using Matcher = std::function<bool(QWidget*)>;
    using Action = std::function<void(QWidget*)>;
    ModalScript(Matcher is_target, Action act);
    ModalScript(const ModalScript&) = delete;
    ModalScript& operator=(const ModalScript&) = delete;

    [[nodiscard]] bool acted() const { return acted_; }
    [[nodiscard]] const std::string& failure() const { return failure_; }

  private:
    QTimer timer_;
    QDeadlineTimer deadline_{GUI_DEADLINE_MS};
    bool acted_ = false;
    std::string failure_;
};

}  // namespace vrk::test
