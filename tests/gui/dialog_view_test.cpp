// The two dialogs as the user sees them: every template control as a widget in its place,
// the model drawn without echoing commands, the keyboard as the platform's dialogs handle it.
#include "app/qt/dialog_view.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <string>
#include <vector>

#include "app/qt/icons.h"
#include "app/res/dialog_templates.h"
#include "app/startup.h"
#include "device/firmware_transfer.h"
#include "device/format_text.h"
#include "device/macro_recorder.h"
#include "link/messages.h"
#include "platform/control_ids.h"
#include "tests/gui/gui_support.h"
#include "tests/support/rig.h"

namespace vrk::test {
namespace {

using platform::ControlKind;
using platform::Notification;
using qt::DialogView;

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A model of a dialog that records the commands it raises instead of acting on them.
struct RecordingModel {
    platform::ControlsModel model;
    std::vector<std::pair<int, Notification>> commands;
    explicit RecordingModel(const res::DialogTemplate& dialog) {
        res::build_model(dialog, model);
        model.set_command_sink([this](int id, Notification n) { commands.emplace_back(id, n); });
    }
};

const char* widget_class(ControlKind kind) {
    switch (kind) {
        case ControlKind::label:
        case ControlKind::static_text:
        case ControlKind::status_text:
            return "QLabel";
        case ControlKind::edit:
            return "QLineEdit";
        case ControlKind::push_button:
        case ControlKind::default_push_button:
            return "QPushButton";
        case ControlKind::drop_down_list:
            return "QComboBox";
        case ControlKind::list_box:
            return "QListWidget";
        case ControlKind::progress_bar:
            return "QProgressBar";
        case ControlKind::check_box:
            return "QCheckBox";
    }
    return "?";
}

// Sends a key to whatever has the focus, as the keyboard would.
void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr) << "nothing has the focus";
    QTest::keyClick(focus, static_cast<Qt::Key>(key), modifiers);
}

void focus_control(DialogView& view, platform::ControlsModel& model, int id) {
    model.set_focus(id);
    view.refresh();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return QApplication::focusWidget() == view.control_widget(id); }, GUI_DEADLINE_MS));
}

const res::DialogTemplate* const DIALOGS[] = {&res::select_port_template(), &res::main_template()};

TEST(DialogLayout, EveryTemplateControlIsAWidgetWithItsIdKindTextAndPlace) {
    for (const res::DialogTemplate* dialog : DIALOGS) {
        SCOPED_TRACE(std::string(dialog->name));
        platform::ControlsModel model;
        res::build_model(*dialog, model);
        DialogView view(*dialog, model);
        const qt::DialogBaseUnits units = view.base_units();
        const auto x = [&](int u) { return res::dialog_x_to_pixels(u, units.average_char_width); };
        const auto y = [&](int u) { return res::dialog_y_to_pixels(u, units.char_height); };

        EXPECT_EQ(view.font().pointSize(), dialog->font_points);
        // The units of an 8-point sans font on any ordinary screen.
        EXPECT_GE(units.average_char_width, 4);
        EXPECT_LE(units.average_char_width, 12);
        EXPECT_GE(units.char_height, 9);
        EXPECT_LE(units.char_height, 24);

        int with_id_property = 0;
        for (const QWidget* child : view.findChildren<QWidget*>())
            if (child->property("controlId").isValid()) ++with_id_property;
        EXPECT_EQ(with_id_property, static_cast<int>(dialog->controls.size()));

        for (std::size_t i = 0; i < dialog->controls.size(); ++i) {
            const res::ControlTemplate& t = dialog->controls[i];
            SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(t.id) + " " +
                         std::string(t.text));
            QWidget* widget = view.template_widget(i);
            ASSERT_NE(widget, nullptr);
            EXPECT_EQ(widget->property("controlId").toInt(), t.id);
            EXPECT_STREQ(widget->metaObject()->className(), widget_class(t.kind));
            if (t.id != ids::STATIC) {
                EXPECT_EQ(view.control_widget(t.id), widget);
            }

            const QRect place = widget->geometry();
            EXPECT_EQ(place.x(), x(t.x));
            EXPECT_EQ(place.y(), y(t.y));
            EXPECT_EQ(place.width(), x(t.width));
            if (t.kind == ControlKind::drop_down_list) {
                // The template gives the dropped-down height; closed, the box is one line.
                EXPECT_LT(place.height(), y(t.height));
                EXPECT_GE(place.height(), units.char_height);
            } else {
                EXPECT_EQ(place.height(), y(t.height));
            }

            if (auto* label = qobject_cast<QLabel*>(widget)) {
                EXPECT_EQ(label->text(), qs(t.text));
                EXPECT_EQ(label->textFormat(), Qt::PlainText);
            } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
                EXPECT_EQ(button->text(), qs(t.text));
                EXPECT_FALSE(button->autoDefault());
                EXPECT_EQ(button->isDefault(), t.kind == ControlKind::default_push_button);
            } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
                EXPECT_EQ(box->text(), qs(t.text));
                EXPECT_FALSE(box->isTristate());
            } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
                EXPECT_FALSE(combo->isEditable());
                EXPECT_EQ(combo->count(), 0);
            } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
                EXPECT_TRUE(edit->text().isEmpty());
            }
        }
    }
}

TEST(DialogLayout, TextsFitTheirControlsInTheDialogFont) {
    // A font whose letters run wider than the layout's would clip "Firmware Version:" or
    // "Run Application"; the Record button must also hold its recording caption.
    for (const res::DialogTemplate* dialog : DIALOGS) {
        platform::ControlsModel model;
        res::build_model(*dialog, model);
        DialogView view(*dialog, model);
        const QFontMetrics metrics(view.font());
        for (std::size_t i = 0; i < dialog->controls.size(); ++i) {
            const res::ControlTemplate& t = dialog->controls[i];
            if (t.text.empty()) continue;
            QString shown = qs(t.text);
            shown.remove(QLatin1Char('&'));
            int room = view.template_widget(i)->width() - (t.kind == ControlKind::label ? 0 : 4);
            if (t.kind == ControlKind::check_box) {
                // The box itself and the gap before its text come first.
                const QStyle* style = view.template_widget(i)->style();
                room -= style->pixelMetric(QStyle::PM_IndicatorWidth) +
                        style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
            }
            EXPECT_LE(metrics.horizontalAdvance(shown), room) << std::string(t.text);
        }
        if (dialog == &res::main_template()) {
            QString stop = qs(device::STOP_RECORDING_CAPTION);
            stop.remove(QLatin1Char('&'));
            EXPECT_LE(metrics.horizontalAdvance(stop),
                      view.control_widget(ids::RECORD)->width() - 4);
            // The status line's longest everyday text: how a default Download ends, with the
            // demo image's name. Its frame and indent take a few pixels of the width.
            const QString verified =
                qs(device::format_text(device::VERIFIED_TEXT, "VRK700-demo.vr4"));
            EXPECT_LE(metrics.horizontalAdvance(verified),
                      view.control_widget(ids::STATUS)->width() - 6)
                << verified.toStdString();
        }
    }
}

TEST(DialogLayout, NoTwoControlsOverlap) {
    // Drop-down lists as they stand closed: their template height is the dropped-down list's.
    for (const res::DialogTemplate* dialog : DIALOGS) {
        SCOPED_TRACE(std::string(dialog->name));
        platform::ControlsModel model;
        res::build_model(*dialog, model);
        DialogView view(*dialog, model);
        for (std::size_t i = 0; i < dialog->controls.size(); ++i) {
            const QRect a = view.template_widget(i)->geometry();
            EXPECT_TRUE(view.rect().contains(a)) << "control " << i << " leaves the window";
            for (std::size_t j = i + 1; j < dialog->controls.size(); ++j) {
                const QRect b = view.template_widget(j)->geometry();
                EXPECT_FALSE(a.intersects(b))
                    << "control " << i << " (" << dialog->controls[i].text << ", "
                    << dialog->controls[i].id << ") overlaps control " << j << " ("
                    << dialog->controls[j].text << ", " << dialog->controls[j].id << ")";
            }
        }
    }
}

TEST(DialogLayout, ATypicalPortEntryFitsThePortListBesideItsScrollBar) {
    // Names alone cannot tell two adapters apart: the list is wide enough for what follows
    // the name, with a scroll bar when the ports outnumber the rows.
    platform::ControlsModel model;
    res::build_model(res::select_port_template(), model);
    DialogView view(res::select_port_template(), model);
    auto* list = static_cast<QListWidget*>(view.control_widget(ids::PORT_LIST));
    const QString entry = qs(app::port_entry_text(
        {"/dev/ttyUSB0", "", "FTDI FT232R USB UART A600ABCD (0403:6001)", {}}));
    const int room = list->width() - 2 * list->frameWidth() -
                     list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list) -
                     2 * list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list);
    EXPECT_LE(QFontMetrics(list->font()).horizontalAdvance(entry), room) << entry.toStdString();
}

TEST(DialogLayout, WindowsHaveTheirCaptionsFrameAndPlace) {
    struct Case {
        const res::DialogTemplate* dialog;
        const char* caption;
        bool close_box;
        bool minimize_box;
    };
    const Case cases[] = {
        {&res::select_port_template(), "Select COMM Port", false, false},
        {&res::main_template(), "VRK 700 Configuration 42.15", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        platform::ControlsModel model;
        res::build_model(*c.dialog, model);
        DialogView view(*c.dialog, model);
        EXPECT_EQ(view.windowTitle(), QString::fromLatin1(c.caption));
        const Qt::WindowFlags flags = view.windowFlags();
        EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
        EXPECT_EQ(flags.testFlag(Qt::WindowSystemMenuHint), c.close_box);
        EXPECT_EQ(flags.testFlag(Qt::WindowCloseButtonHint), c.close_box);
        EXPECT_EQ(flags.testFlag(Qt::WindowMinimizeButtonHint), c.minimize_box);
        EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
        const qt::DialogBaseUnits units = view.base_units();
        const QSize size(res::dialog_x_to_pixels(c.dialog->width, units.average_char_width),
                         res::dialog_y_to_pixels(c.dialog->height, units.char_height));
        EXPECT_EQ(view.size(), size);
        EXPECT_EQ(view.minimumSize(), size);
        EXPECT_EQ(view.maximumSize(), size);
        const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
        EXPECT_LE((view.geometry().center() - centre).manhattanLength(), 2);
    }
}

TEST(MainWindowView, SendDownloadAndCompareStartDisabled) {
    platform::ControlsModel model;
    res::build_model(res::main_template(), model);
    DialogView view(res::main_template(), model);
    const int disabled[] = {ids::SEND_ID, ids::DOWNLOAD, ids::COMPARE};
    for (const res::ControlTemplate& t : res::main_template().controls) {
        if (t.id == ids::STATIC) continue;
        const bool should_be_enabled =
            std::find(std::begin(disabled), std::end(disabled), t.id) == std::end(disabled);
        EXPECT_EQ(view.control_widget(t.id)->isEnabled(), should_be_enabled) << t.id;
    }
}

TEST(MainWindowView, ProgramChangesAreDrawnWithoutRaisingCommands) {
    RecordingModel rec(res::main_template());
    DialogView view(res::main_template(), rec.model);
    auto& m = rec.model;
    m.set_text(ids::FIRMWARE_VERSION, "2.15");
    m.set_text(ids::STATUS, "Firmware downloaded successfully");
    m.enable(ids::SEND_ID, true);
    m.enable(ids::QB7_MODE, false);
    m.add_item(ids::GPS_TYPE, "TSIP", 1);
    m.add_item(ids::GPS_TYPE, "NMEA", 2);
    m.set_selection(ids::GPS_TYPE, 1);
    m.add_item(ids::APPLICATION, "main.vr4");
    m.set_text(ids::UNIT_ID, "VRK00042");
    m.select_edit_text(ids::UNIT_ID, 0, -1);
    m.set_text(ids::RECORD, device::STOP_RECORDING_CAPTION);
    view.refresh();

    // Only the model's own edit-change for the program's text: nothing came back from the view.
    ASSERT_EQ(rec.commands.size(), 1u);
    EXPECT_EQ(rec.commands[0], std::make_pair(ids::UNIT_ID, Notification::edit_change));

    EXPECT_EQ(static_cast<QLabel*>(view.control_widget(ids::FIRMWARE_VERSION))->text(), "2.15");
    EXPECT_EQ(static_cast<QLabel*>(view.control_widget(ids::STATUS))->text(),
              "Firmware downloaded successfully");
    EXPECT_TRUE(view.control_widget(ids::SEND_ID)->isEnabled());
    EXPECT_FALSE(view.control_widget(ids::QB7_MODE)->isEnabled());
    auto* gps = static_cast<QComboBox*>(view.control_widget(ids::GPS_TYPE));
    ASSERT_EQ(gps->count(), 2);
    EXPECT_EQ(gps->itemText(0), "NMEA");  // the model's sorted order
    EXPECT_EQ(gps->itemText(1), "TSIP");
    EXPECT_EQ(gps->currentIndex(), 1);
    auto* application = static_cast<QComboBox*>(view.control_widget(ids::APPLICATION));
    EXPECT_EQ(application->count(), 1);
    EXPECT_EQ(application->currentIndex(), -1);  // listed, not chosen
    auto* id_box = static_cast<QLineEdit*>(view.control_widget(ids::UNIT_ID));
    EXPECT_EQ(id_box->text(), "VRK00042");
    EXPECT_EQ(id_box->selectedText(), "VRK00042");
    EXPECT_EQ(static_cast<QPushButton*>(view.control_widget(ids::RECORD))->text(),
              "&Stop Recording");

    // A selection taken away by the program leaves the box empty.
    m.set_selection(ids::GPS_TYPE, -1);
    view.refresh();
    EXPECT_EQ(gps->currentIndex(), -1);
    EXPECT_EQ(rec.commands.size(), 1u);
}

TEST(MainWindowView, StatusLineShowsAmpersandsAndMarkupLiterally) {
    platform::ControlsModel model;
    res::build_model(res::main_template(), model);
    DialogView view(res::main_template(), model);
    const std::string text = "Error creating '/tmp/a&b <b>x</b>.vbm'";
    model.set_text(ids::STATUS, text);
    view.refresh();
    auto* status = static_cast<QLabel*>(view.control_widget(ids::STATUS));
    EXPECT_EQ(status->text(), qs(text));
    EXPECT_EQ(status->textFormat(), Qt::PlainText);
    EXPECT_EQ(status->buddy(), nullptr);  // without a buddy an "&" is no mnemonic
    EXPECT_EQ(status->frameShadow(), QFrame::Sunken);
}

TEST(MainWindowView, MnemonicsPressButtonsAndFocusTheControlAfterTheirLabel) {
    struct Case {
        Qt::Key key;
        int clicked;  // 0: no click expected
        int focused;
    };
    const Case cases[] = {
        {Qt::Key_X, ids::EXIT, 0},
        {Qt::Key_B, ids::QB7_MODE, 0},
        {Qt::Key_R, ids::RUN_APPLICATION, 0},
        {Qt::Key_C, ids::RECORD, 0},
        {Qt::Key_S, ids::SEND_ID, 0},
        {Qt::Key_D, ids::DOWNLOAD, 0},
        {Qt::Key_M, ids::COMPARE, 0},
        {Qt::Key_V, ids::VERIFY, 0},
        {Qt::Key_I, 0, ids::UNIT_ID},
        {Qt::Key_G, 0, ids::GPS_TYPE},
        {Qt::Key_N, 0, ids::INTERNAL_DEVICE},
        {Qt::Key_E, 0, ids::EXTERNAL_DEVICE},
        {Qt::Key_A, 0, ids::APPLICATION},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QKeySequence(c.key).toString().toStdString());
        RecordingModel rec(res::main_template());
        for (int id : {ids::SEND_ID, ids::DOWNLOAD, ids::COMPARE}) rec.model.enable(id, true);
        DialogView view(res::main_template(), rec.model);
        ASSERT_TRUE(show_active(view));
        focus_control(view, rec.model, ids::EXIT == c.clicked ? ids::UNIT_ID : ids::EXIT);
        rec.commands.clear();

        press(c.key, Qt::AltModifier);
        if (c.clicked != 0) {
            // Qt shows the press before it clicks: wait for the click, however long it takes.
            EXPECT_TRUE(QTest::qWaitFor([&] { return !rec.commands.empty(); }, GUI_DEADLINE_MS));
            ASSERT_EQ(rec.commands.size(), 1u);
            EXPECT_EQ(rec.commands[0], std::make_pair(c.clicked, Notification::clicked));
        } else {
            EXPECT_TRUE(QTest::qWaitFor(
                [&] { return QApplication::focusWidget() == view.control_widget(c.focused); },
                GUI_DEADLINE_MS));
            EXPECT_EQ(rec.model.focus(), c.focused);  // the model follows the user's focus
            EXPECT_TRUE(rec.commands.empty());
        }
    }
}

TEST(MainWindowView, EnterPressesOnlyTheFocusedButtonAndEscapeDoesNotClose) {
    const int focus_targets[] = {ids::EXIT,        ids::QB7_MODE, ids::RUN_APPLICATION,
                                 ids::RECORD,      ids::SEND_ID,  ids::DOWNLOAD,
                                 ids::COMPARE,     ids::UNIT_ID,  ids::GPS_TYPE,
                                 ids::APPLICATION, ids::VERIFY};
    for (const int target : focus_targets) {
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            SCOPED_TRACE("focus " + std::to_string(target) + " key " +
                         QKeySequence(key).toString().toStdString());
            RecordingModel rec(res::main_template());
            for (int id : {ids::SEND_ID, ids::DOWNLOAD, ids::COMPARE}) rec.model.enable(id, true);
            DialogView view(res::main_template(), rec.model);
            ASSERT_TRUE(show_active(view));
            focus_control(view, rec.model, target);
            rec.commands.clear();

            press(key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
            QApplication::processEvents();

            const bool is_button =
                qobject_cast<QPushButton*>(view.control_widget(target)) != nullptr;
            if (key != Qt::Key_Escape && is_button) {
                ASSERT_EQ(rec.commands.size(), 1u);
                EXPECT_EQ(rec.commands[0], std::make_pair(target, Notification::clicked));
            } else {
                EXPECT_TRUE(rec.commands.empty());
            }
            EXPECT_TRUE(view.isVisible());
            EXPECT_FALSE(rec.model.ended());
        }
    }
}

TEST(MainWindowView, TheVerifyBoxToggles) {
    enum class Act { mouse, space, mnemonic };
    struct Case {
        const char* name;
        Act act;
        bool enabled;
        bool checked_after;  // from checked
    };
    const Case cases[] = {
        {"a click unchecks it", Act::mouse, true, false},
        {"Space unchecks it", Act::space, true, false},
        {"Alt+V unchecks it", Act::mnemonic, true, false},
        {"a click on the disabled box does nothing", Act::mouse, false, true},
        {"Alt+V on the disabled box does nothing", Act::mnemonic, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingModel rec(res::main_template());
        rec.model.set_checked(ids::VERIFY, true);
        rec.model.enable(ids::VERIFY, c.enabled);
        DialogView view(res::main_template(), rec.model);
        ASSERT_TRUE(show_active(view));
        auto* box = static_cast<QCheckBox*>(view.control_widget(ids::VERIFY));
        EXPECT_TRUE(box->isChecked()) << "drawn from the model";
        EXPECT_TRUE(rec.commands.empty()) << "the program's check raises nothing";
        focus_control(view, rec.model, c.act == Act::space ? ids::VERIFY : ids::EXIT);

        switch (c.act) {
            case Act::mouse:
                QTest::mouseClick(box, Qt::LeftButton);
                break;
            case Act::space:
                press(Qt::Key_Space);
                break;
            case Act::mnemonic:
                press(Qt::Key_V, Qt::AltModifier);
                break;
        }
        if (c.enabled) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return !rec.commands.empty(); }, GUI_DEADLINE_MS));
            ASSERT_EQ(rec.commands.size(), 1u);
            EXPECT_EQ(rec.commands[0], std::make_pair(ids::VERIFY, Notification::clicked));
        } else {
            QApplication::processEvents();
            EXPECT_TRUE(rec.commands.empty());
        }
        EXPECT_EQ(rec.model.is_checked(ids::VERIFY), c.checked_after);
        EXPECT_EQ(box->isChecked(), c.checked_after);
    }
}

TEST(MainWindowView, TabGoesFromCompareToVerifyToExit) {
    RecordingModel rec(res::main_template());
    for (int id : {ids::DOWNLOAD, ids::COMPARE}) rec.model.enable(id, true);
    DialogView view(res::main_template(), rec.model);
    ASSERT_TRUE(show_active(view));
    focus_control(view, rec.model, ids::COMPARE);
    const std::pair<Qt::KeyboardModifiers, int> steps[] = {
        {Qt::NoModifier, ids::VERIFY},
        {Qt::NoModifier, ids::EXIT},
        {Qt::ShiftModifier, ids::VERIFY},
        {Qt::ShiftModifier, ids::COMPARE},
    };
    for (const auto& [modifiers, expected] : steps) {
        press(modifiers == Qt::ShiftModifier ? Qt::Key_Backtab : Qt::Key_Tab, modifiers);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return QApplication::focusWidget() == view.control_widget(expected); },
            GUI_DEADLINE_MS))
            << "expected the focus on " << expected;
        EXPECT_EQ(rec.model.focus(), expected);
    }
    EXPECT_TRUE(rec.commands.empty()) << "moving the focus toggles nothing";
}

TEST(MainWindowView, ClosingTheWindowEndsTheDialog) {
    platform::ControlsModel model;
    res::build_model(res::main_template(), model);
    DialogView view(res::main_template(), model);
    ASSERT_TRUE(show_active(view));
    view.close();  // what the close box and Alt+F4 do
    EXPECT_TRUE(model.ended());
    EXPECT_EQ(model.result(), -1);
    EXPECT_FALSE(view.isVisible());
}

TEST(PortDialogView, KeysAndDoubleClickEndItWithThePortOrMinusOne) {
    enum class Act {
        enter_on_list,
        enter_on_cancel,
        enter_on_ok,
        escape,
        double_click_second,
        click_cancel
    };
    struct Case {
        const char* name;
        Act act;
        int result;
    };
    // Items go in as ttyUSB0 (data 0), ttyS0 (1), ttyACM0 (2); sorted: ttyACM0, ttyS0, ttyUSB0.
    const Case cases[] = {
        {"enter on the list presses OK", Act::enter_on_list, 2},
        {"enter on focused Cancel presses it", Act::enter_on_cancel, -1},
        {"enter on OK", Act::enter_on_ok, 2},
        {"escape cancels", Act::escape, -1},
        {"double-click chooses the item", Act::double_click_second, 1},
        {"cancel button", Act::click_cancel, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::ControlsModel model;
        res::build_model(res::select_port_template(), model);
        std::uint32_t data = 0;
        for (const char* name : {"ttyUSB0", "ttyS0", "ttyACM0"})
            model.add_item(ids::PORT_LIST, name, data++);
        model.set_selection(ids::PORT_LIST, 0);
        model.set_command_sink(
            [&model](int id, Notification n) { app::on_port_command(model, id, n); });
        DialogView view(res::select_port_template(), model,
                        qt::DialogOptions{.escape_command = ids::CANCEL});
        ASSERT_TRUE(show_active(view));
        auto* list = static_cast<QListWidget*>(view.control_widget(ids::PORT_LIST));
        ASSERT_EQ(list->count(), 3);
        EXPECT_EQ(list->item(0)->text(), "ttyACM0");
        EXPECT_EQ(list->currentRow(), 0);

        switch (c.act) {
            case Act::enter_on_list:
                focus_control(view, model, ids::PORT_LIST);
                press(Qt::Key_Return);
                break;
            case Act::enter_on_cancel:
                focus_control(view, model, ids::CANCEL);
                press(Qt::Key_Return);
                break;
            case Act::enter_on_ok:
                focus_control(view, model, ids::OK);
                press(Qt::Key_Return);
                break;
            case Act::escape:
                focus_control(view, model, ids::PORT_LIST);
                press(Qt::Key_Escape);
                break;
            case Act::double_click_second: {
                // As the mouse does it: a click, then the second press that makes it double.
                const QPoint at = list->visualItemRect(list->item(1)).center();
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
                QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
                break;
            }
            case Act::click_cancel:
                QTest::mouseClick(view.control_widget(ids::CANCEL), Qt::LeftButton);
                break;
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return model.ended(); }, GUI_DEADLINE_MS));
        EXPECT_EQ(model.result(), c.result);
        EXPECT_FALSE(view.isVisible());
    }
}

TEST(Icons, BothIconResourcesAreBuiltIn) {
    for (const char* name : {qt::MAIN_WINDOW_ICON, qt::APPLICATION_ICON}) {
        const QIcon icon = qt::resource_icon(name);
        EXPECT_FALSE(icon.isNull()) << name;
        EXPECT_TRUE(icon.availableSizes().contains(QSize(16, 16))) << name;
        EXPECT_TRUE(icon.availableSizes().contains(QSize(32, 32))) << name;
    }
    EXPECT_TRUE(qt::resource_icon("NO_SUCH_ICON").isNull());
}

// --- With the program's core behind the window --------------------------------------------

TEST(MainWindowWithCore, TypingIntoTheIdBoxKeepsEightUpperCaseCharactersAndEnablesSend) {
    struct Case {
        const char* name;
        std::vector<std::pair<Qt::Key, const char*>> keys;  // a key, or (Key_unknown, text)
        const char* shown;
        int caret;
        bool send_enabled;
    };
    const Case cases[] = {
        {"typed", {{Qt::Key_unknown, "ab12"}}, "AB12", 4, true},
        {"cut to eight", {{Qt::Key_unknown, "abcdefghij"}}, "ABCDEFGH", 8, true},
        {"typed in the middle",
         {{Qt::Key_unknown, "ac"}, {Qt::Key_Left, nullptr}, {Qt::Key_unknown, "b"}},
         "ABC",
         2,
         true},
        {"cleared again",
         {{Qt::Key_unknown, "ab"}, {Qt::Key_Backspace, nullptr}, {Qt::Key_Backspace, nullptr}},
         "",
         0,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        DialogView view(res::main_template(), rig.window);
        ASSERT_TRUE(show_active(view));
        auto* box = static_cast<QLineEdit*>(view.control_widget(ids::UNIT_ID));
        auto* send = view.control_widget(ids::SEND_ID);
        ASSERT_FALSE(send->isEnabled());
        focus_control(view, rig.window, ids::UNIT_ID);
        for (const auto& [key, text] : c.keys) {
            if (text != nullptr)
                QTest::keyClicks(box, QString::fromLatin1(text));
            else
                QTest::keyClick(box, key);
        }
        EXPECT_EQ(box->text(), QString::fromLatin1(c.shown));
        EXPECT_EQ(rig.window.text(ids::UNIT_ID), c.shown);
        EXPECT_EQ(box->cursorPosition(), c.caret);
        EXPECT_EQ(send->isEnabled(), c.send_enabled);
        EXPECT_EQ(rig.window.is_enabled(ids::SEND_ID), c.send_enabled);
    }
}

TEST(MainWindowWithCore, TheHebrewExternalDeviceIsDrawnAsHebrewAndSendsItsCode) {
    Rig rig;
    DialogView view(res::main_template(), rig.window);
    auto* external = static_cast<QComboBox*>(view.control_widget(ids::EXTERNAL_DEVICE));
    const char32_t hebrew[] = {0x05E8, 0x05D1, 0x0020, 0x05D1, 0x05E8, 0x05D9, 0x05D7};
    const int index = external->findText(QString::fromUcs4(hebrew, 7));
    ASSERT_GE(index, 0) << "the Hebrew row is not in the list as Hebrew";
    // The model keeps the unit's bytes.
    EXPECT_EQ(rig.window.item_text(ids::EXTERNAL_DEVICE, index), "\xF8\xE1\x20\xE1\xF8\xE9\xE7");
    ASSERT_EQ(external->count(), rig.window.item_count(ids::EXTERNAL_DEVICE));

    rig.take_sent();
    emit external->activated(index);  // what the combo box says when the user picks the row
    EXPECT_EQ(rig.window.selection(ids::EXTERNAL_DEVICE), index);
    const std::vector<Bytes> sent = rig.take_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Bytes{link::messages::EXTERNAL_DEVICE, 50}));
}

TEST(MainWindowWithCore, ExitButtonEndsTheWindow) {
    Rig rig;
    DialogView view(res::main_template(), rig.window);
    ASSERT_TRUE(show_active(view));
    QTest::mouseClick(view.control_widget(ids::EXIT), Qt::LeftButton);
    EXPECT_TRUE(rig.window.ended());
    EXPECT_FALSE(view.isVisible());
}

}  // namespace
}  // namespace vrk::test
