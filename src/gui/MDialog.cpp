#include "MDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QSettings>
#include <QStringList>

namespace tromel::gui::MDialog {

namespace {

void keepDialogStateOffDisk()
{
    // QFileDialog saves its history and layout to the user's Qt settings when it is destroyed.
    // Those settings go to an INI file in a folder that can never be created (below a device on
    // Unix, a name with a reserved character on Windows), so that save writes nothing, and not
    // to the registry either.
    static const bool redirected = [] {
#if defined(Q_OS_WIN)
        const QString nowhere = QStringLiteral("<no settings>");
#else
        const QString nowhere = QStringLiteral("/dev/null/TromelRimbolt");
#endif
        QSettings::setDefaultFormat(QSettings::IniFormat);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, nowhere);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, nowhere);
        return true;
    }();
    Q_UNUSED(redirected);
}

} // namespace

QString ShowOpenFile(QWidget* owner, const QString& title, const QString& filter, const QString& initialDir)
{
    keepDialogStateOffDisk();
    QFileDialog dialog(owner, title, initialDir, filter);
    // Native GTK and portal choosers add the file to the desktop's recent-files list.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : QDir::toNativeSeparators(files.constFirst());
}

} // namespace tromel::gui::MDialog
