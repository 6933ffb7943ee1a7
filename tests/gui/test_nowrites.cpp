// The program keeps nothing on disk. Start-up, browsing through the real file chooser (checked on
// the way) and validating run with HOME, every XDG_* home and the temp folder pointed at an empty
// folder, which must stay empty, and with XDG_RUNTIME_DIR unset. The environment is set before the
// application object exists, as Qt reads it then.
#include "Application.h"
#include "Form1.h"
#include "GuiTestSupport.h"
#include "QtFormServices.h"

#include <QAbstractItemView>
#include <QDirIterator>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace tromel::gui;
using tromel::gui::test::items;
using tromel::gui::test::whenModal;
using tromel::gui::test::writeFile;

namespace {

QTemporaryDir* home = nullptr;
QTemporaryDir* fixtures = nullptr; // outside home, which must stay empty

QStringList entries(const QString& dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext())
        out << it.next();
    return out;
}

class FixtureServices final : public QtFormServices {
public:
    FixtureServices(QString key, QString dir)
        : QtFormServices(std::move(key))
        , m_dir(std::move(dir))
    {
    }
    std::string programDir() override { return m_dir.toStdString(); }

private:
    QString m_dir;
};

} // namespace

class NoWritesTest : public QObject {
    Q_OBJECT

private slots:
    void startBrowseValidate()
    {
        QVERIFY(writeFile(fixtures->filePath("cvars.ini"), "list v 1.25-02-2007\nr_a\n"));
        const QString cfg = fixtures->filePath("my.cfg");
        QVERIFY(writeFile(cfg, "seta r_a 1\n"));

        {
            FixtureServices services(
                QStringLiteral("TromelRimbolt-nowrites-%1").arg(QCoreApplication::applicationPid()),
                fixtures->path());
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
            QTest::mouseClick(form.findChild<QPushButton*>("Command1"), Qt::LeftButton);
            QCOMPARE(QString::fromStdString(form.cfgPath()), QDir::toNativeSeparators(cfg));
            // The chooser starts where the program was started, not beside it.
            QCOMPARE(seen,
                (QStringList { "Choississez un fichier de configuration...", "Config ET (*.cfg)",
                    QDir::currentPath(), QString::number(QFileDialog::ExistingFile), "1" }));
            QTest::mouseClick(form.findChild<QPushButton*>("Command2"), Qt::LeftButton);
            QVERIFY(QTest::qWaitFor([&] { return !form.checking(); }, 60000));
            QCOMPARE(items(form.findChild<QAbstractItemView*>("List1")).value(0),
                QStringLiteral("Ligne: 0 - r_a"));
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        QCOMPARE(entries(home->path()), QStringList());
    }

    // The check above can see a write: a file chooser destroyed with the toolkit's own settings
    // path does leave its history behind, and asking for the runtime folder makes one.
    void checkSeesToolkitWrites_data()
    {
        QTest::addColumn<bool>("runtime");
        QTest::newRow("chooser history") << false;
        QTest::newRow("runtime folder") << true;
    }
    void checkSeesToolkitWrites()
    {
        QFETCH(bool, runtime);
        QDir(home->path()).removeRecursively();
        QDir().mkpath(home->path());
        if (runtime) {
            QVERIFY(!QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation).isEmpty());
        } else {
            QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home->filePath(".config"));
            QFileDialog dialog; // saves its history when destroyed, here
        }
        QVERIFY(!entries(home->path()).isEmpty());
    }
};

int main(int argc, char* argv[])
{
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
    NoWritesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_nowrites.moc"
