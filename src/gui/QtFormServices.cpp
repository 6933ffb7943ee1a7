#include "QtFormServices.h"

#include "MDialog.h"
#include "platform/NativeFile.h"

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMessageBox>

namespace tromel::gui {

QtFormServices::QtFormServices(QString instanceKey)
    : m_instanceKey(std::move(instanceKey))
{
}

QtFormServices::~QtFormServices() = default;

QString QtFormServices::defaultInstanceKey()
{
#if defined(Q_OS_WIN)
    const QString user = qEnvironmentVariable("USERNAME");
#else
    const QString user = qEnvironmentVariable("USER", qEnvironmentVariable("LOGNAME"));
#endif
    return QStringLiteral("TromelRimbolt-") + user;
}

void QtFormServices::showMessage(const QString& title, const QString& prompt)
{
    QMessageBox box(QMessageBox::Warning, title, prompt, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

QString QtFormServices::ShowOpenFile(const QString& title, const QString& filter, const QString& initialDir)
{
    return MDialog::ShowOpenFile(QApplication::activeWindow(), title, filter, initialDir);
}

bool QtFormServices::anotherInstanceRunning()
{
    if (m_server)
        return false;
    auto server = std::make_unique<QLocalServer>();
#ifdef Q_OS_LINUX
    server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    if (!server->listen(m_instanceKey))
        return server->serverError() == QAbstractSocket::AddressInUseError;
#else
    // Windows pipes may be opened twice, and elsewhere a crash leaves the socket file behind:
    // only a server that answers proves a running instance.
    QLocalSocket probe;
    probe.connectToServer(m_instanceKey);
    if (probe.waitForConnected(500))
        return true;
    QLocalServer::removeServer(m_instanceKey);
    if (!server->listen(m_instanceKey))
        return false;
#endif
    m_server = std::move(server);
    return false;
}

std::string QtFormServices::programDir()
{
    return tromel::platform::programDirectory(QCoreApplication::arguments().value(0).toStdString());
}

} // namespace tromel::gui
