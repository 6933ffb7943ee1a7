#pragma once

#include "FormServices.h"

#include <memory>

class QLocalServer;

namespace tromel::gui {

/// The production services: Qt message box and file chooser, and a local server whose name marks
/// the running instance. On Linux the name lives in the abstract namespace, so it touches no disk
/// and vanishes with the process, crashed or not.
class QtFormServices : public FormServices {
public:
    explicit QtFormServices(QString instanceKey = defaultInstanceKey());
    ~QtFormServices() override;

    void showMessage(const QString& title, const QString& prompt) override;
    QString ShowOpenFile(const QString& title, const QString& filter, const QString& initialDir) override;
    bool anotherInstanceRunning() override;
    std::string programDir() override;

    /// One name per user, so that two users of one machine don't block each other. The user is
    /// the one the environment names: a wrong name only lets a second copy start.
    static QString defaultInstanceKey();

private:
    QString m_instanceKey;
    std::unique_ptr<QLocalServer> m_server;
};

} // namespace tromel::gui
