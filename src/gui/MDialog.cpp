#include "MDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QSettings>
#include <QStringList>

namespace tromel::gui::MDialog {

namespace {

void keepDialogStateOffDisk()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // QFileDialog saves its history and layout to the user's Qt settings file when it is destroyed.
    // A settings folder below a device can never be created, so that save writes nothing.
    static const bool redirected = [] {
        const QString nowhere = QStringLiteral("/dev/null/TromelRimbolt");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, nowhere);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, nowhere);
        return true;
    }();
    Q_UNUSED(redirected);
#endif
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
