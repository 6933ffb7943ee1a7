#pragma once

#include "FormServices.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QList>
#include <QListView>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

namespace tromel::gui::test {

/// Scripted services: answers the file chooser from a queue and records every request.
class FakeServices final : public FormServices {
public:
    struct Message {
        QString title;
        QString prompt;
    };
    struct Chooser {
        QString title;
        QString filter;
        QString initialDir;
    };

    bool otherInstance = false;
    QString dir;
    QStringList answers; // ShowOpenFile answers, in order; empty when exhausted means "cancel"
    QList<Message> messages;
    QList<Chooser> choosers;
    int programDirCalls = 0;

    void showMessage(const QString& title, const QString& prompt) override
    {
        messages.append({ title, prompt });
    }
    QString ShowOpenFile(const QString& title, const QString& filter, const QString& initialDir) override
    {
        choosers.append({ title, filter, initialDir });
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    bool anotherInstanceRunning() override { return otherInstance; }
    QString programDir() override
    {
        ++programDirCalls;
        return dir;
    }
};

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QStringList items(const QListView* list)
{
    QStringList out;
    const QAbstractItemModel* model = list->model();
    for (int row = 0; row < model->rowCount(); ++row)
        out << model->index(row, 0).data().toString();
    return out;
}

/// Hands the next modal dialog of type D to handle once it is up, from the event loop that runs
/// it. A dialog that a fault leaves open is closed after a few seconds, so the run can't hang.
template <typename D> void whenModal(std::function<void(D*)> handle)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    auto ticks = std::make_shared<int>(0);
    auto handled = std::make_shared<bool>(false);
    QObject::connect(timer, &QTimer::timeout, [timer, ticks, handled, handle] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!*handled) {
            if (auto* dialog = qobject_cast<D*>(modal)) {
                *handled = true;
                *ticks = 0;
                handle(dialog);
                return;
            }
        } else if (!modal) {
            timer->stop();
            timer->deleteLater();
            return;
        }
        if (++*ticks > 300 && modal)
            modal->close();
    });
    timer->start();
}

/// Chooses a file in the Qt file dialog as a user typing its full path and pressing Open would.
inline void chooseFile(QFileDialog* dialog, const QString& path)
{
    // selectFile() leaves the name field alone while it has the focus, so type into it instead.
    if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        edit->setText(path);
    static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept checks the choice
}

} // namespace tromel::gui::test
