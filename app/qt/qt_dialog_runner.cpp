#include "app/qt/qt_dialog_runner.h"

#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>

#include "app/qt/dialog_view.h"
#include "app/qt/icons.h"
#include "app/res/dialog_templates.h"
#include "platform/control_ids.h"

namespace vrk::qt {

namespace {

// Runs a view until its model ends. Should the loop end some other way (the application
// quitting), the model is ended too, so the caller always finds it ended.
void run_until_ended(DialogView& view, platform::ControlsModel& model) {
    if (!model.ended()) view.exec();
    if (!model.ended()) model.end_dialog(-1);
}

}  // namespace

void QtDialogRunner::run_port_selection(platform::ControlsModel& model) {
    if (model.ended()) return;
    DialogView view(res::select_port_template(), model,
                    DialogOptions{.escape_command = ids::CANCEL});
    run_until_ended(view, model);
}

void QtDialogRunner::run_main_window(app::MainWindowDriver& session) {
    platform::ControlsModel& window = session.window();
    if (window.ended()) return;
    DialogView view(res::main_template(), window, DialogOptions{.escape_command = 0});
    view.setWindowIcon(resource_icon(MAIN_WINDOW_ICON));

    // The poll timer. A message box opened inside a poll runs a nested event loop that keeps
    // this timer firing; on_timer_tick drops those ticks, and the view just draws again.
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(app::TIMER_PERIOD_MS);
    QElapsedTimer running;
    running.start();
    SelfTest* self_test = self_test_;
    QObject::connect(
        &timer, &QTimer::timeout, &view, [&session, &window, &view, &running, self_test] {
            session.tick();
            view.refresh();
            if (self_test == nullptr || window.ended()) return;
            // Linked with the settings loaded and the version shown: what a person would call up.
            if (session.unit_settings_shown()) {
                self_test->linked =
                    view.grab().save(QString::fromStdString(self_test->screenshot_path), "PNG");
                window.end_dialog(-1);
            } else if (running.elapsed() > self_test->time_limit_ms) {
                window.end_dialog(-1);
            }
        });
    timer.start();
    run_until_ended(view, window);
    timer.stop();
}

}  // namespace vrk::qt
