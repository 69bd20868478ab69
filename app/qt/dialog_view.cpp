#include "app/qt/dialog_view.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <algorithm>
#include <limits>

#include "app/qt/qt_text.h"
#include "platform/control_ids.h"

namespace vrk::qt {

using platform::ControlKind;

namespace {

constexpr char CONTROL_ID_PROPERTY[] = "controlId";
constexpr int NO_TEXT_LIMIT = 32767;  // QLineEdit's own default

bool takes_focus(ControlKind kind) {
    switch (kind) {
        case ControlKind::edit:
        case ControlKind::push_button:
        case ControlKind::default_push_button:
        case ControlKind::drop_down_list:
        case ControlKind::list_box:
        case ControlKind::check_box:
            return true;
        default:
            return false;
    }
}

// Replaces a list widget's texts only when they differ, so a selection change alone (the
// common case) does not rebuild the list under an open drop-down.
template <typename CountFn, typename TextFn>
bool same_items(const platform::Control& control, CountFn count, TextFn text_at) {
    if (count() != static_cast<int>(control.items.size())) return false;
    for (std::size_t i = 0; i < control.items.size(); ++i)
        if (text_at(static_cast<int>(i)) != to_display(control.items[i].text)) return false;
    return true;
}

// The height of a closed drop-down list: its text line and frame, as the style draws them.
int closed_drop_down_height(const QComboBox& combo) {
    return combo.sizeHint().height();
}

}  // namespace

QFont dialog_font(const res::DialogTemplate& dialog) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    const QString wanted = QString::fromLatin1(dialog.font_name.data(),
                                               static_cast<qsizetype>(dialog.font_name.size()));
    if (QFontDatabase::families().contains(wanted, Qt::CaseInsensitive)) font.setFamilies({wanted});
    font.setPointSize(dialog.font_points);
    return font;
}

DialogBaseUnits dialog_base_units(const QFont& font) {
    // The templates were laid out in units of the platform's "average character width": the
    // width of the 52 Latin letters, divided by 26, halved and rounded. A font's own average
    // width (its OS/2 table) counts every glyph it has and comes out wider for fonts with
    // large repertoires, which would spread the layout.
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogBaseUnits units;
    units.average_char_width = std::max(1, (letters / 26 + 1) / 2);
    units.char_height = std::max(1, metrics.ascent() + metrics.descent());
    return units;
}

QRect dialog_rect_to_pixels(const res::ControlTemplate& control, DialogBaseUnits units) {
    return {res::dialog_x_to_pixels(control.x, units.average_char_width),
            res::dialog_y_to_pixels(control.y, units.char_height),
            res::dialog_x_to_pixels(control.width, units.average_char_width),
            res::dialog_y_to_pixels(control.height, units.char_height)};
}

DialogView::DialogView(const res::DialogTemplate& dialog, platform::ControlsModel& model,
                       DialogOptions options, QWidget* parent)
    : QDialog(parent),
      dialog_(dialog),
      model_(model),
      options_(options),
      font_(dialog_font(dialog)),
      units_(dialog_base_units(font_)),
      drawn_model_revision_(std::numeric_limits<std::uint64_t>::max()) {
    setObjectName(
        QString::fromLatin1(dialog.name.data(), static_cast<qsizetype>(dialog.name.size())));
    setWindowTitle(to_display(dialog.caption));
    setFont(font_);

    // A system menu brings the close box and Alt+F4 with it; without one (the port dialog)
    // the window has a caption only, and the choice must be made with OK or Cancel.
    Qt::WindowFlags flags = Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    flags |= dialog.system_menu ? Qt::Window : Qt::Dialog;
    if (dialog.system_menu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (dialog.minimize_box) flags |= Qt::WindowMinimizeButtonHint;
    setWindowFlags(flags);
    if (dialog.system_menu) {
        // Window managers usually close on Alt+F4 themselves; this makes it so without one.
        auto* close_key = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_F4), this);
        connect(close_key, &QShortcut::activated, this, &QWidget::close);
    }

    setFixedSize(res::dialog_x_to_pixels(dialog.width, units_.average_char_width),
                 res::dialog_y_to_pixels(dialog.height, units_.char_height));
    build_controls();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    focus_connection_ = connect(qApp, &QApplication::focusChanged, this,
                                [this](QWidget*, QWidget* now) { on_focus_changed(now); });
    redraw();
}

DialogView::~DialogView() {
    // The children are deleted after this object's members, and a focused child going away
    // moves the focus: stop listening before that happens.
    disconnect(focus_connection_);
}

void DialogView::build_controls() {
    template_widgets_.reserve(dialog_.controls.size());
    for (const res::ControlTemplate& control : dialog_.controls) {
        QWidget* widget = make_widget(control);
        widget->setProperty(CONTROL_ID_PROPERTY, control.id);
        QRect place = dialog_rect_to_pixels(control, units_);
        // A drop-down list's template height is that of the list when dropped down; closed, the
        // box is as tall as the font needs (the list's share is set in make_widget).
        if (control.kind == ControlKind::drop_down_list)
            place.setHeight(std::min(place.height(),
                                     closed_drop_down_height(*static_cast<QComboBox*>(widget))));
        widget->setGeometry(place);
        template_widgets_.push_back(widget);
        if (control.id != ids::STATIC) bound_.push_back({control.id, widget, 0});
    }
    // A label's mnemonic moves the focus to the control that follows it in the template.
    for (std::size_t i = 0; i < dialog_.controls.size(); ++i) {
        if (dialog_.controls[i].kind != ControlKind::label) continue;
        for (std::size_t j = i + 1; j < dialog_.controls.size(); ++j) {
            if (takes_focus(dialog_.controls[j].kind)) {
                static_cast<QLabel*>(template_widgets_[i])->setBuddy(template_widgets_[j]);
                break;
            }
        }
    }
}

QWidget* DialogView::make_widget(const res::ControlTemplate& control) {
    const int id = control.id;
    switch (control.kind) {
        case ControlKind::label:
        case ControlKind::static_text:
        case ControlKind::status_text: {
            auto* label = new QLabel(this);
            // Plain text always: these show what the unit and the file system report, which
            // must never be taken for markup. An "&" of the status line stays literal because
            // it has no buddy; a label's "&" marks its mnemonic.
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            if (control.kind == ControlKind::label) label->setText(to_display(control.text));
            if ((control.style & res::STYLE_SUNKEN) != 0) {
                label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                label->setLineWidth(1);
                label->setIndent(1);
                label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            }
            return label;
        }
        case ControlKind::edit: {
            auto* edit = new QLineEdit(this);
            connect(edit, &QLineEdit::textEdited, this,
                    [this, id](const QString& text) { on_text_edited(id, text); });
            return edit;
        }
        case ControlKind::push_button:
        case ControlKind::default_push_button: {
            auto* button = new QPushButton(this);
            // Enter presses the focused button only (see keyPressEvent); no button becomes the
            // default just by taking the focus.
            button->setAutoDefault(false);
            if (control.kind == ControlKind::default_push_button) {
                button->setDefault(true);
                default_button_ = button;
            }
            connect(button, &QPushButton::clicked, this, [this, id] { on_clicked(id); });
            return button;
        }
        case ControlKind::drop_down_list: {
            auto* combo = new QComboBox(this);
            combo->setEditable(false);
            // Drop the list below the box, at the height the template gives, as the platform's
            // drop-down lists do; styles that open the list over the box (Fusion) ignore it.
            combo->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
            // Whatever the template's height leaves below the closed box is the list's.
            const QRect full = dialog_rect_to_pixels(control, units_);
            const int closed = std::min(closed_drop_down_height(*combo), full.height());
            const int row = std::max(1, QFontMetrics(font_).height());
            combo->setMaxVisibleItems(std::max(1, (full.height() - closed) / row));
            connect(combo, &QComboBox::activated, this,
                    [this, id](int index) { on_activated(id, index); });
            return combo;
        }
        case ControlKind::check_box: {
            auto* box = new QCheckBox(this);
            // The box has toggled itself by the time it says so; the model toggles too, and the
            // next draw shows the model's state, which is the one the program acts on.
            connect(box, &QCheckBox::clicked, this, [this, id] { on_clicked(id); });
            return box;
        }
        case ControlKind::progress_bar: {
            auto* bar = new QProgressBar(this);
            bar->setTextVisible(false);  // the numbers are in the text beside it
            return bar;
        }
        case ControlKind::list_box: {
            auto* list = new QListWidget(this);
            list->setSelectionMode(QAbstractItemView::SingleSelection);
            list->setUniformItemSizes(true);
            list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            connect(list, &QListWidget::currentRowChanged, this,
                    [this, id](int row) { on_activated(id, row); });
            connect(list, &QListWidget::itemDoubleClicked, this,
                    [this, id, list](QListWidgetItem* item) {
                        on_double_clicked(id, list->row(item));
                    });
            return list;
        }
    }
    return new QWidget(this);
}

QWidget* DialogView::control_widget(int id) const {
    for (const Bound& b : bound_)
        if (b.id == id) return b.widget;
    return nullptr;
}

QWidget* DialogView::template_widget(std::size_t index) const {
    return index < template_widgets_.size() ? template_widgets_[index] : nullptr;
}

DialogView::Bound* DialogView::bound(int id) {
    for (Bound& b : bound_)
        if (b.id == id) return &b;
    return nullptr;
}

void DialogView::refresh() {
    redraw();
    if (model_.ended() && !finished_) {
        finished_ = true;
        done(model_.result());
    }
}

void DialogView::redraw() {
    // Nothing changed since the last draw: the common case of a tick with no traffic.
    if (model_.revision() == drawn_model_revision_ || drawing_) return;
    drawing_ = true;
    for (const platform::Control& control : model_.controls()) {
        Bound* b = bound(control.id);
        if (b == nullptr || b->drawn_revision == control.revision) continue;
        draw(control, b->widget);
        b->drawn_revision = control.revision;
    }
    if (model_.focus() != drawn_focus_) {
        drawn_focus_ = model_.focus();
        if (QWidget* widget = control_widget(drawn_focus_)) widget->setFocus(Qt::OtherFocusReason);
    }
    drawn_model_revision_ = model_.revision();
    drawing_ = false;
}

void DialogView::draw(const platform::Control& control, QWidget* widget) {
    // The program's changes must not come back as the user's commands.
    const QSignalBlocker blocker(widget);
    if (widget->isEnabled() != control.enabled) widget->setEnabled(control.enabled);
    if (widget->isVisibleTo(this) != control.visible) widget->setVisible(control.visible);

    switch (control.kind) {
        case ControlKind::label:
        case ControlKind::static_text:
        case ControlKind::status_text: {
            auto* label = static_cast<QLabel*>(widget);
            const QString text = to_display(control.text);
            if (label->text() != text) label->setText(text);
            break;
        }
        case ControlKind::edit: {
            auto* edit = static_cast<QLineEdit*>(widget);
            const QString text = from_unit_text(control.text);
            // A program-set text may be longer than the typing limit (the platform's edit box
            // allows that too); the widget must still show all of it.
            const int limit =
                control.text_limit == 0 ? NO_TEXT_LIMIT : static_cast<int>(control.text_limit);
            const int max_length = std::max(limit, static_cast<int>(text.size()));
            if (edit->maxLength() != max_length) edit->setMaxLength(max_length);
            if (edit->text() != text) edit->setText(text);
            if (control.edit_sel_start != control.edit_sel_end)
                edit->setSelection(control.edit_sel_start,
                                   control.edit_sel_end - control.edit_sel_start);
            else
                edit->setCursorPosition(control.edit_sel_end);
            break;
        }
        case ControlKind::push_button:
        case ControlKind::default_push_button: {
            auto* button = static_cast<QPushButton*>(widget);
            const QString text = to_display(control.text);
            if (button->text() != text) button->setText(text);
            break;
        }
        case ControlKind::drop_down_list: {
            auto* combo = static_cast<QComboBox*>(widget);
            if (!same_items(
                    control, [combo] { return combo->count(); },
                    [combo](int i) { return combo->itemText(i); })) {
                combo->clear();
                for (const platform::ListItem& item : control.items)
                    combo->addItem(to_display(item.text));
            }
            if (combo->currentIndex() != control.selection)
                combo->setCurrentIndex(control.selection);
            break;
        }
        case ControlKind::check_box: {
            auto* box = static_cast<QCheckBox*>(widget);
            const QString text = to_display(control.text);
            if (box->text() != text) box->setText(text);
            if (box->isChecked() != control.checked) box->setChecked(control.checked);
            break;
        }
        case ControlKind::progress_bar: {
            auto* bar = static_cast<QProgressBar*>(widget);
            // QProgressBar counts in int; a range of 0 would make it a busy indicator.
            const int range = static_cast<int>(std::max<std::uint32_t>(control.range, 1));
            if (bar->maximum() != range) bar->setRange(0, range);
            const int position = static_cast<int>(control.position);
            if (bar->value() != position) bar->setValue(position);
            break;
        }
        case ControlKind::list_box: {
            auto* list = static_cast<QListWidget*>(widget);
            if (!same_items(
                    control, [list] { return list->count(); },
                    [list](int i) { return list->item(i)->text(); })) {
                list->clear();
                for (const platform::ListItem& item : control.items)
                    list->addItem(to_display(item.text));
            }
            if (list->currentRow() != control.selection) list->setCurrentRow(control.selection);
            if (control.selection < 0) list->clearSelection();
            break;
        }
    }
}

void DialogView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
            if (options_.escape_command != 0 && model_.has(options_.escape_command))
                on_clicked(options_.escape_command);
            event->accept();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter: {
            // Enter presses the push button that has the focus; elsewhere it presses the
            // default button, and a dialog without one (the main window) ignores it.
            auto* focused = qobject_cast<QPushButton*>(focusWidget());
            QPushButton* target =
                (focused != nullptr && focused->parentWidget() == this) ? focused : default_button_;
            if (target != nullptr && target->isEnabled()) target->click();
            event->accept();
            return;
        }
        default:
            QDialog::keyPressEvent(event);
    }
}

void DialogView::reject() {
    if (!model_.ended()) model_.end_dialog(-1);
    refresh();
}

void DialogView::on_clicked(int id) {
    model_.user_click(id);
    refresh();
}

void DialogView::on_text_edited(int id, const QString& text) {
    auto* edit = static_cast<QLineEdit*>(control_widget(id));
    const int caret = edit->cursorPosition();
    model_.user_type_text(id, to_unit_text(text));

    // Show what the box kept (cut to its limit, letters upper-cased) with the caret where the
    // user left it, rather than where the model's simpler caret rule would put it.
    const platform::Control* control = model_.find(id);
    const QString kept = from_unit_text(control->text);
    if (edit->text() != kept) {
        const QSignalBlocker blocker(edit);
        edit->setText(kept);
        edit->setCursorPosition(std::min(caret, static_cast<int>(kept.size())));
    }
    if (Bound* b = bound(id)) b->drawn_revision = control->revision;
    refresh();
}

void DialogView::on_activated(int id, int index) {
    if (drawing_) return;
    model_.user_select(id, index);
    refresh();
}

void DialogView::on_double_clicked(int id, int row) {
    model_.user_double_click(id, row);
    refresh();
}

void DialogView::on_focus_changed(QWidget* now) {
    if (now == nullptr) return;
    for (const Bound& b : bound_) {
        if (b.widget == now || b.widget->isAncestorOf(now)) {
            drawn_focus_ = b.id;
            if (model_.focus() != b.id) model_.user_focus(b.id);
            return;
        }
    }
}

}  // namespace vrk::qt
