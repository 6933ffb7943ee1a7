// The production services: the real message box, file chooser and single-instance check. The
// program keeps nothing on disk: every case runs with HOME, every XDG_* home and the temp folder
// pointed at an empty folder, which must stay empty, and with XDG_RUNTIME_DIR unset. The
// environment is set before the application object exists, as Qt reads it then.
#include "Application.h"
#include "Form1.h"
#include "GuiTestSupport.h"
#include "QtFormServices.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QDirIterator>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

using namespace tromel::gui;
using tromel::gui::test::whenModal;
using tromel::gui::test::writeFile;

namespace {

QTemporaryDir* home = nullptr;
QTemporaryDir* fixtures = nullptr; // outside home

QString uniqueKey()
{
    return QStringLiteral("TromelRimbolt-test-%1").arg(QCoreApplication::applicationPid());
}

class FixtureServices final : public QtFormServices {
public:
    FixtureServices()
        : QtFormServices(uniqueKey() + QStringLiteral("-window")) // apart from the one held below
    {
    }
    std::string programDir() override { return fixtures->path().toStdString(); }
};

} // namespace

class ServicesTest : public QObject {
    Q_OBJECT

private slots:
    void singleInstance()
    {
        const QString key = uniqueKey();
        QProcess holder; // this program, holding the key until it is killed
        holder.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--hold-instance"), key });
        QVERIFY(holder.waitForReadyRead(10000)); // its "ready"
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

    // Start-up, browsing through the real file chooser and validating, each dialog checked on the way.
    void startBrowseValidate()
    {
        QVERIFY(writeFile(fixtures->filePath("cvars.ini"), "list v 1.25-02-2007\nr_a\n"));
        const QString cfg = fixtures->filePath("my.cfg");
        QVERIFY(writeFile(cfg, "seta r_a 1\n"));

        FixtureServices services;
        Form1 form(services);
        QVERIFY(form.Form_Load());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        QStringList seen; // title, filters, folder, mode, widgets
        whenModal<QFileDialog>([&](QFileDialog* dialog) {
            seen = QStringList { dialog->windowTitle(), dialog->nameFilters().join('|'),
                dialog->directory().absolutePath(), QString::number(dialog->fileMode()),
                QString::number(dialog->testOption(QFileDialog::DontUseNativeDialog)) };
            // selectFile() leaves the name field alone while it has the focus, so type into it.
            if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                edit->setText(cfg);
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept checks the choice
        });
        QTest::mouseClick(form.findChild<QWidget*>("Command1"), Qt::LeftButton);
        QCOMPARE(QString::fromStdString(form.cfgPath()), QDir::toNativeSeparators(cfg));
        // The chooser starts where the program was started, not beside it.
        QCOMPARE(seen,
            (QStringList { "Choississez un fichier de configuration...", "Config ET (*.cfg)",
                QDir::currentPath(), QString::number(QFileDialog::ExistingFile), "1" }));
        QTest::mouseClick(form.findChild<QWidget*>("Command2"), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !form.checking(); }, 60000));
        QCOMPARE(form.findChild<QAbstractItemView*>("List1")->model()->index(0, 0).data().toString(),
            QStringLiteral("Ligne: 0 - r_a"));

        QVERIFY(QFile::remove(cfg));
        seen.clear(); // icon, title, text, buttons
        whenModal<QMessageBox>([&](QMessageBox* box) {
            seen = QStringList { QString::number(box->icon()), box->windowTitle(), box->text(),
                QString::number(box->buttons().size()) };
            box->button(QMessageBox::Ok)->click();
        });
        QTest::mouseClick(form.findChild<QWidget*>("Command2"), Qt::LeftButton);
        QCOMPARE(seen,
            (QStringList {
                QString::number(QMessageBox::Warning), "Tromel Rimbolt: CFG", "Cfg not found.", "1" }));
    }

    void cleanupTestCase()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        QStringList written;
        QDirIterator it(home->path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
            QDirIterator::Subdirectories);
        while (it.hasNext())
            written << it.next();
        QCOMPARE(written, QStringList());
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
    QTemporaryDir dir, fixtureDir;
    if (!dir.isValid() || !fixtureDir.isValid())
        return 2;
    home = &dir;
    fixtures = &fixtureDir;
    for (const char* name :
        { "HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "TMPDIR" })
        qputenv(name, QFile::encodeName(dir.path()));
    qunsetenv("XDG_RUNTIME_DIR");
    const auto app = createApplication(argc, argv);
    ServicesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_services.moc"
