#include "app/qt/qt_host_services.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "app/qt/qt_text.h"

namespace vrk::qt {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

namespace {

QMessageBox::Icon to_qt(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::error:
            return QMessageBox::Critical;
        case MessageIcon::question:
            return QMessageBox::Question;
        case MessageIcon::information:
            return QMessageBox::Information;
        case MessageIcon::none:
            break;
    }
    return QMessageBox::NoIcon;
}

// The window a modal box belongs to: the dialog that is running, so the box stays above it
// and blocks it; none before any dialog is up (the no-port box).
QWidget* owner() {
    return QApplication::activeModalWidget();
}

}  // namespace

std::string message_box_caption(const std::string& caption) {
    return caption.empty() ? "Error" : caption;
}

SaveDialogStart save_dialog_start(const std::string& initial_path) {
    SaveDialogStart start;
    const std::size_t slash = initial_path.find_last_of('/');
    std::string name = initial_path;
    if (slash != std::string::npos) {
        // "/name" lies in the root directory.
        start.directory = slash == 0 ? std::string("/") : initial_path.substr(0, slash);
        name = initial_path.substr(slash + 1);
    }
    if (name.find_first_of("*?") == std::string::npos) start.file_name = name;
    return start;
}

std::string save_dialog_filter(const platform::SaveFileRequest& request) {
    if (request.filter_pattern.empty() ||
        request.filter_description.find(request.filter_pattern) != std::string::npos)
        return request.filter_description;
    return request.filter_description + " (" + request.filter_pattern + ")";
}

MessageAnswer QtHostServices::message_box(const std::string& text, const std::string& caption,
                                          MessageButtons buttons, MessageIcon icon) {
    QMessageBox box(to_qt(icon), to_display(message_box_caption(caption)), to_display(text),
                    QMessageBox::NoButton, owner());
    // The text may carry a path or what the unit sent: show it as it is, never as markup.
    box.setTextFormat(Qt::PlainText);
    if (buttons == MessageButtons::yes_no) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    }
    const int answer = box.exec();
    if (buttons == MessageButtons::ok) return MessageAnswer::ok;
    // A box closed any other way than by Yes counts as No: the questions asked here (leave
    // the program? switch modes?) must not be taken as agreed by accident.
    return answer == QMessageBox::Yes ? MessageAnswer::yes : MessageAnswer::no;
}

void QtHostServices::beep() {
    QApplication::beep();
}

std::optional<std::string> QtHostServices::save_file_dialog(
    const platform::SaveFileRequest& request) {
    const SaveDialogStart start = save_dialog_start(request.initial_path);
    QFileDialog dialog(owner());
    // Qt's own dialog: the same on every desktop, and it honours every option set here.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwrite_prompt);
    dialog.setNameFilter(to_display(save_dialog_filter(request)));
    if (!request.default_extension.empty())
        dialog.setDefaultSuffix(from_local_path(request.default_extension));
    if (!start.directory.empty()) dialog.setDirectory(from_local_path(start.directory));
    if (!start.file_name.empty()) dialog.selectFile(from_local_path(start.file_name));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty()) return std::nullopt;
    return to_local_path(chosen.front());
}

}  // namespace vrk::qt
