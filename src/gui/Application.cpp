#include "Application.h"

#include "Version.h"

#include <QApplication>
#include <QIcon>

namespace tromel::gui {

void configureApplication(QApplication& app)
{
    QApplication::setApplicationName(QStringLiteral("TromelRimbolt"));
    QApplication::setApplicationVersion(QString::fromLatin1(tromel::kVersion));
    QGuiApplication::setDesktopFileName(QStringLiteral("TromelRimbolt"));
    QIcon icon(QStringLiteral(":/tromel/TromelRimbolt.ico"));
    icon.addFile(QStringLiteral(":/tromel/TromelRimbolt.png"));
    app.setWindowIcon(icon);
}

} // namespace tromel::gui
