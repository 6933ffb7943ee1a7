#include "Application.h"
#include "GuiTestSupport.h"
#include "QtFormServices.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace tromel::gui;
using tromel::gui::test::whenModal;

class ServicesTest : public QObject {
    Q_OBJECT

    static QString uniqueKey()
    {
        return QStringLiteral("TromelRimbolt-test-%1").arg(QCoreApplication::applicationPid());
    }

private slots:
    void messageBox()
    {
        QtFormServices services(uniqueKey());
        QStringList seen; // icon, title, text, buttons
        whenModal<QMessageBox>([&](QMessageBox* box) {
            seen = QStringList { QString::number(box->icon()), box->windowTitle(), box->text(),
                QString::number(box->buttons().size()) };
            box->button(QMessageBox::Ok)->click();
        });
        services.showMessage(QStringLiteral("Tromel Rimbolt: CFG"), QStringLiteral("Cfg not found."));
        QCOMPARE(seen,
            (QStringList {
                QString::number(QMessageBox::Warning), "Tromel Rimbolt: CFG", "Cfg not found.", "1" }));
    }

    void singleInstance()
    {
        const QString key = uniqueKey();
        QProcess holder; // this program, holding the key until it is killed
        holder.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--hold-instance"), key });
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readAll().trimmed(), QByteArray("ready"));
        {
            QtFormServices second(key);
            QVERIFY(second.anotherInstanceRunning());
            QtFormServices otherUser(key + QStringLiteral("-other"));
            QVERIFY(!otherUser.anotherInstanceRunning());
        }
        holder.kill(); // no clean-up runs, as in a crash
        QVERIFY(holder.waitForFinished(10000));
        QtFormServices next(key);
        QVERIFY(!next.anotherInstanceRunning());
        QVERIFY(!next.anotherInstanceRunning()); // asking again does not find itself
    }
};

int main(int argc, char* argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--hold-instance") == 0) {
        QCoreApplication app(argc, argv);
        QtFormServices holder(QString::fromLocal8Bit(argv[2]));
        if (holder.anotherInstanceRunning())
            return 2;
        std::fputs("ready\n", stdout);
        std::fflush(stdout);
        return QCoreApplication::exec();
    }
    const auto app = createApplication(argc, argv);
    ServicesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_services.moc"
