#pragma once

#include "Application.h"
#include "Form1.h"
#include "FormServices.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
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
    std::string programDir() override
    {
        ++programDirCalls;
        return dir.toStdString();
    }
};

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QStringList items(const QAbstractItemView* list)
{
    QStringList out;
    const QAbstractItemModel* model = list->model();
    for (int row = 0; row < model->rowCount(); ++row)
        out << model->index(row, 0).data().toString();
    return out;
}

/// A window whose cvars.ini lies in a temporary folder, with scripted services.
class FormFixture : public QObject {
protected:
    QTemporaryDir m_dir;
    FakeServices m_services;
    std::unique_ptr<Form1> m_form;

    template <typename T = QWidget> T* w(const char* name)
    {
        return m_form->findChild<T*>(QLatin1String(name));
    }
    QString path(const char* name) const { return m_dir.filePath(QLatin1String(name)); }
    void click(const char* name) { QTest::mouseClick(w(name), Qt::LeftButton); }
    /// Presses "Valider la cfg" and waits for the check to end.
    bool pressValidate()
    {
        click("Command2");
        return QTest::qWaitFor([this] { return !m_form->checking(); }, 60000);
    }
    bool start(const QByteArray& list)
    {
        m_services.dir = m_dir.path();
        m_form = std::make_unique<Form1>(m_services);
        return writeFile(path("cvars.ini"), list) && m_form->Form_Load();
    }
};

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

/// QTEST_MAIN with the program's own application object, which leaves nothing in the temp folder.
#define TROMEL_GUI_TEST_MAIN(TestObject)                                                                     \
    int main(int argc, char* argv[])                                                                         \
    {                                                                                                        \
        const auto app = tromel::gui::createApplication(argc, argv);                                         \
        TestObject test;                                                                                     \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
