#include "app/qt/qt_text.h"

#include <QFile>

#include "platform/code_page.h"

namespace vrk::qt {

using platform::display_text;
using platform::unicode_to_windows1255;
using platform::windows1255_to_unicode;

namespace {

QString from_code_points(const std::u32string& text) {
    return QString::fromUcs4(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QString to_display(std::string_view bytes) {
    return from_code_points(display_text(bytes));
}

QString from_unit_text(std::string_view bytes) {
    return from_code_points(windows1255_to_unicode(bytes));
}

std::string to_unit_text(const QString& text) {
    const QList<uint> ucs4 = text.toUcs4();
    std::u32string code_points;
    code_points.reserve(static_cast<std::size_t>(ucs4.size()));
    for (const uint cp : ucs4) code_points.push_back(static_cast<char32_t>(cp));
    return unicode_to_windows1255(code_points);
}

QString from_local_path(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string to_local_path(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace vrk::qt
