// Resource look-up over the Qt resource file compiled into vkt_gui.
#include "gui/resources.h"

#include <QFile>
#include <QString>

namespace {

QString Lower(const std::string& name) {
    return QString::fromStdString(name).toLower();
}

} // namespace

QIcon ResourceIcon(const std::string& name) {
    QIcon icon;
    for (int size : {16, 32})
        icon.addFile(QStringLiteral(":/vkt/%1-%2.png").arg(Lower(name)).arg(size), QSize(size, size));
    return icon;
}

QByteArray ResourceData(const std::string& name) {
    const char* path = name == "SPLASH"       ? ":/vkt/splash.png"
                       : name == "ABOUT_JPEG" ? ":/vkt/about.jpg"
                       : name == "HELP"       ? ":/vkt/sentrova-help.html"
                                              : nullptr;
    if (!path) return {};
    QFile f(QString::fromLatin1(path));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}
