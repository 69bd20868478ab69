#include "tests/gui/gui_support.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QTest>
#include <memory>

namespace vrk::test {

namespace {

// One QApplication for every test, made when the tests start (not when they are listed).
class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (QApplication::instance() == nullptr)
            application_ = std::make_unique<QApplication>(argc_, argv_);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { application_.reset(); }

  private:
    inline static char name_[] = "vrk_gui_tests";
    inline static char* argv_[] = {name_, nullptr};
    inline static int argc_ = 1;
    std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] ::testing::Environment* const qt_environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

bool show_active(QWidget& window) {
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window, GUI_DEADLINE_MS);
}

ModalScript::ModalScript(Matcher is_target, Action act) {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout,
                     [this, is_target = std::move(is_target), act = std::move(act)] {
                         if (acted_) return;
                         QWidget* modal = QApplication::activeModalWidget();
                         if (modal != nullptr && modal->isVisible() && is_target(modal)) {
                             acted_ = true;
                             timer_.stop();
                             act(modal);
                             return;
                         }
                         if (deadline_.hasExpired()) {
                             failure_ = "the expected modal window never appeared";
                             timer_.stop();
                             for (int i = 0; i < 10; ++i) {
                                 QWidget* stuck = QApplication::activeModalWidget();
                                 if (stuck == nullptr) break;
                                 if (auto* dialog = qobject_cast<QDialog*>(stuck))
                                     dialog->done(QDialog::Rejected);
                                 else
                                     stuck->close();
                                 QApplication::processEvents();
                             }
                         }
                     });
    timer_.start();
}

}  // namespace vrk::test
