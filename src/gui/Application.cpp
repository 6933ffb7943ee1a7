#include "Application.h"

#include "Version.h"
#include "platform/NativeFile.h"

#include <QApplication>
#include <QIcon>
#include <QStringList>

#include <filesystem>
#include <system_error>

namespace tromel::gui {

namespace {

QtMessageHandler g_previousHandler = nullptr;

// Qt's complaints about the runtime folder it was kept from creating say nothing to our users.
void withoutRuntimeFolderNotes(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1String("QStandardPaths:")))
        return;
    if (g_previousHandler != nullptr)
        g_previousHandler(type, context, message);
}

} // namespace

std::unique_ptr<QApplication> createApplication(int& argc, char** argv)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // While it starts, Qt looks for the user's runtime folder to tell whether it runs in a
    // sandbox, and without XDG_RUNTIME_DIR creates one in the temp folder. Nothing of ours asks
    // for it, so for that moment only the temp folder is one where nothing can be created.
    const bool noRuntimeFolder = qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR");
    const bool hadTemp = qEnvironmentVariableIsSet("TMPDIR");
    const QByteArray temp = qgetenv("TMPDIR");
    if (noRuntimeFolder) {
        qputenv("TMPDIR", "/dev/null");
        g_previousHandler = qInstallMessageHandler(withoutRuntimeFolderNotes);
    }
#endif
    auto app = std::make_unique<QApplication>(argc, argv);
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    if (noRuntimeFolder)
        qInstallMessageHandler(g_previousHandler);
    if (noRuntimeFolder && hadTemp)
        qputenv("TMPDIR", temp);
    else if (noRuntimeFolder)
        qunsetenv("TMPDIR");
#endif
    QApplication::setApplicationName(QStringLiteral("TromelRimbolt"));
    QApplication::setApplicationVersion(QString::fromLatin1(tromel::kVersion));
    QGuiApplication::setDesktopFileName(QStringLiteral("TromelRimbolt"));
    QIcon icon(QStringLiteral(":/tromel/TromelRimbolt.ico"));
    icon.addFile(QStringLiteral(":/tromel/TromelRimbolt.png"));
    app->setWindowIcon(icon);
    return app;
}

std::string commandLineFile(int argc, char** argv)
{
#if defined(Q_OS_WIN)
    // argv is in the ANSI code page there; Qt's list comes from the wide command line.
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    const std::string named = QCoreApplication::arguments().value(1).toStdString();
#else
    const std::string named = argc > 1 ? argv[1] : "";
#endif
    if (named.empty())
        return {};
    // Absolute, so that a file named "-" is that file and not standard input.
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::absolute(platform::pathFromUtf8(named), ec);
    return ec ? std::string() : platform::pathToUtf8(path);
}

} // namespace tromel::gui
