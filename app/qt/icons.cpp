#include "app/qt/icons.h"

#include <QFile>
#include <QString>

// The icons are compiled into this static library; naming the resource's initialiser keeps the
// linker from dropping it from programs that never mention it.
static void init_icon_resources() {
    Q_INIT_RESOURCE(icons);
}

namespace vrk::qt {

QIcon resource_icon(const char* name) {
    init_icon_resources();
    QIcon icon;
    for (const int size : {16, 32}) {
        const QString path =
            QStringLiteral(":/icons/%1/%2.png").arg(QString::fromLatin1(name)).arg(size);
        if (QFile::exists(path)) icon.addFile(path, QSize(size, size));
    }
    return icon;
}

}  // namespace vrk::qt
