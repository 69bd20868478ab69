// The Qt host services and dialog runner, driven through the modal windows they open.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <optional>
#include <string>

#include "app/main_window.h"
#include "app/qt/dialog_view.h"
#include "app/qt/qt_dialog_runner.h"
#include "app/qt/qt_host_services.h"
#include "app/res/dialog_templates.h"
#include "app/session.h"
#include "app/startup.h"
#include "link/messages.h"
#include "platform/control_ids.h"
#include "tests/gui/gui_support.h"
#include "tests/support/fakes.h"
#include "tests/support/rig.h"

namespace vrk::test {
namespace {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

template <typename T>
ModalScript::Matcher is_a() {
    return [](QWidget* w) { return qobject_cast<T*>(w) != nullptr; };
}

ModalScript::Matcher is_dialog(const char* name) {
    return [name](QWidget* w) { return w->objectName() == QLatin1String(name); };
}

TEST(SaveDialogStart, AProposedNameIsProposedAndAPatternIsNot) {
    struct Case {
        std::string initial_path;
        std::string directory;
        std::string file_name;
    };
    const Case cases[] = {
        {"/work/images/*.vbm", "/work/images", ""},
        {"/work/images/APP.vbm", "/work/images", "APP.vbm"},
        {"/work/images/a?.vbm", "/work/images", ""},
        {"/APP.vbm", "/", "APP.vbm"},
        {"APP.vbm", "", "APP.vbm"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        const qt::SaveDialogStart start = qt::save_dialog_start(c.initial_path);
        EXPECT_EQ(start.directory, c.directory) << c.initial_path;
        EXPECT_EQ(start.file_name, c.file_name) << c.initial_path;
    }
}

TEST(SaveDialogFilter, NamesThePatternOnce) {
    platform::SaveFileRequest request;
    request.filter_description = "VRK BIOS Macro Files (*.vbm)";
    request.filter_pattern = "*.vbm";
    EXPECT_EQ(qt::save_dialog_filter(request), "VRK BIOS Macro Files (*.vbm)");
    request.filter_description = "VRK BIOS Macro Files";
    EXPECT_EQ(qt::save_dialog_filter(request), "VRK BIOS Macro Files (*.vbm)");
}

TEST(QtHostServices, MessageBoxesShowCaptionTextButtonsAndIconAndReturnTheAnswer) {
    enum class Act { ok, yes, no, escape, enter };
    struct Case {
        const char* name;
        std::string caption;
        MessageButtons buttons;
        MessageIcon icon;
        Act act;
        const char* shown_caption;
        QMessageBox::Icon shown_icon;
        MessageAnswer answer;
    };
    const Case cases[] = {
        {"no caption is Error", "", MessageButtons::ok, MessageIcon::error, Act::ok, "Error",
         QMessageBox::Critical, MessageAnswer::ok},
        {"yes", "Confirmation", MessageButtons::yes_no, MessageIcon::question, Act::yes,
         "Confirmation", QMessageBox::Question, MessageAnswer::yes},
        {"no", "Confirmation", MessageButtons::yes_no, MessageIcon::question, Act::no,
         "Confirmation", QMessageBox::Question, MessageAnswer::no},
        {"escape on a question is no", "Confirmation", MessageButtons::yes_no,
         MessageIcon::question, Act::escape, "Confirmation", QMessageBox::Question,
         MessageAnswer::no},
        {"enter on a question is yes", "Confirmation", MessageButtons::yes_no,
         MessageIcon::question, Act::enter, "Confirmation", QMessageBox::Question,
         MessageAnswer::yes},
        {"plain notice", "Confirmation", MessageButtons::ok, MessageIcon::none, Act::escape,
         "Confirmation", QMessageBox::NoIcon, MessageAnswer::ok},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = "The VRK is in QB7 mode & <b>ready</b>";
        QString seen_title;
        QString seen_text;
        QMessageBox::Icon seen_icon = QMessageBox::Warning;
        QMessageBox::StandardButtons seen_buttons;
        Qt::TextFormat seen_format = Qt::RichText;
        ModalScript script(is_a<QMessageBox>(), [&](QWidget* w) {
            auto* box = static_cast<QMessageBox*>(w);
            seen_title = box->windowTitle();
            seen_text = box->text();
            seen_icon = box->icon();
            seen_buttons = box->standardButtons();
            seen_format = box->textFormat();
            switch (c.act) {
                case Act::ok:
                    box->button(QMessageBox::Ok)->click();
                    break;
                case Act::yes:
                    box->button(QMessageBox::Yes)->click();
                    break;
                case Act::no:
                    box->button(QMessageBox::No)->click();
                    break;
                case Act::escape:
                    QTest::keyClick(box, Qt::Key_Escape);
                    break;
                case Act::enter:
                    QTest::keyClick(box, Qt::Key_Return);
                    break;
            }
        });
        qt::QtHostServices host;
        const MessageAnswer answer = host.message_box(text, c.caption, c.buttons, c.icon);
        ASSERT_TRUE(script.acted()) << script.failure();
        EXPECT_EQ(answer, c.answer);
        EXPECT_EQ(seen_title, QString::fromLatin1(c.shown_caption));
        EXPECT_EQ(seen_text, QString::fromStdString(text));
        EXPECT_EQ(seen_format, Qt::PlainText);
        EXPECT_EQ(seen_icon, c.shown_icon);
        EXPECT_EQ(seen_buttons, c.buttons == MessageButtons::ok
                                    ? QMessageBox::StandardButtons(QMessageBox::Ok)
                                    : QMessageBox::Yes | QMessageBox::No);
    }
}

platform::SaveFileRequest macro_request(const QString& initial_path) {
    platform::SaveFileRequest request;
    request.initial_path = initial_path.toStdString();
    request.filter_description = "VRK BIOS Macro Files (*.vbm)";
    request.filter_pattern = "*.vbm";
    request.default_extension = "vbm";
    request.overwrite_prompt = true;
    return request;
}

TEST(QtHostServices, SaveDialogOpensWhereProposedAndAddsTheExtension) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QStringList filters;
    QString suffix;
    QString directory;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
    ModalScript script(is_a<QFileDialog>(), [&](QWidget* w) {
        auto* dialog = static_cast<QFileDialog*>(w);
        filters = dialog->nameFilters();
        suffix = dialog->defaultSuffix();
        directory = dialog->directory().absolutePath();
        mode = dialog->acceptMode();
        dialog->selectFile(QStringLiteral("field test"));
        static_cast<QDialog*>(dialog)->accept();
    });
    qt::QtHostServices host;
    const std::optional<std::string> chosen =
        host.save_file_dialog(macro_request(dir.path() + "/*.vbm"));
    ASSERT_TRUE(script.acted()) << script.failure();
    EXPECT_EQ(filters, QStringList{"VRK BIOS Macro Files (*.vbm)"});
    EXPECT_EQ(suffix, "vbm");
    EXPECT_EQ(directory, QDir(dir.path()).absolutePath());
    EXPECT_EQ(mode, QFileDialog::AcceptSave);
    EXPECT_EQ(chosen, std::optional<std::string>((dir.path() + "/field test.vbm").toStdString()));
}

TEST(QtHostServices, SaveDialogAsksBeforeReplacingAFileAndCancelGivesNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    {
        QFile existing(dir.path() + "/APP.vbm");
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    }
    QString proposed;
    ModalScript answer_no(is_a<QMessageBox>(), [](QWidget* w) {
        static_cast<QMessageBox*>(w)->button(QMessageBox::No)->click();
    });
    ModalScript script(is_a<QFileDialog>(), [&](QWidget* w) {
        auto* dialog = static_cast<QFileDialog*>(w);
        proposed = dialog->selectedFiles().value(0);
        static_cast<QDialog*>(dialog)
            ->accept();  // asks whether to replace APP.vbm; answered No, the dialog stays
        EXPECT_TRUE(dialog->isVisible());
        dialog->reject();
    });
    qt::QtHostServices host;
    const std::optional<std::string> chosen =
        host.save_file_dialog(macro_request(dir.path() + "/APP.vbm"));
    ASSERT_TRUE(script.acted()) << script.failure();
    EXPECT_TRUE(answer_no.acted()) << "no overwrite question";
    EXPECT_EQ(proposed, dir.path() + "/APP.vbm");
    EXPECT_EQ(chosen, std::nullopt);
}

TEST(QtDialogRunner, PortSelectionRunsUntilTheUserChooses) {
    platform::ControlsModel model;
    res::build_model(res::select_port_template(), model);
    model.add_item(ids::PORT_LIST, "ttyUSB0", 7);
    model.set_selection(ids::PORT_LIST, 0);
    model.set_command_sink(
        [&model](int id, platform::Notification n) { app::on_port_command(model, id, n); });
    ModalScript script(is_dialog("SELECTPORT"), [](QWidget* w) {
        QTest::keyClick(w, Qt::Key_Return);  // the default button, OK
    });
    qt::QtDialogRunner runner;
    runner.run_port_selection(model);
    ASSERT_TRUE(script.acted()) << script.failure();
    EXPECT_TRUE(model.ended());
    EXPECT_EQ(model.result(), 7);
}

TEST(QtDialogRunner, MainWindowTicksAndAQuestionInsideAPollCanEndIt) {
    // The unit reports that it runs its application; the poll asks whether to leave, in a Qt
    // box over the main window, and Yes ends the window.
    FakePort port;
    FakeClock clock;
    MemoryFileSystem files;
    qt::QtHostServices host;
    app::Session session(port, "fake", {clock, files, host});
    platform::ControlsModel& window = session.window();
    port.log_reads = true;
    port.feed(frame({link::messages::APPLICATION_RUNNING, 0x00}));

    QString owner;
    QString title;
    ModalScript script(is_a<QMessageBox>(), [&](QWidget* w) {
        auto* box = static_cast<QMessageBox*>(w);
        owner = box->parentWidget() != nullptr ? box->parentWidget()->objectName() : QString();
        title = box->windowTitle();
        box->button(QMessageBox::Yes)->click();
    });
    qt::QtDialogRunner runner;
    runner.run_main_window(session);
    ASSERT_TRUE(script.acted()) << script.failure();
    EXPECT_EQ(owner, "MAIN");
    EXPECT_EQ(title, QString::fromLatin1(app::CONFIRMATION_CAPTION));
    EXPECT_TRUE(window.ended());
    EXPECT_NE(std::count(port.events.begin(), port.events.end(), "read"), 0);
}

}  // namespace
}  // namespace vrk::test
