// The program keeps nothing on disk. Start-up, browsing through the real file chooser and
// validating run with HOME and every XDG_* home pointed at an empty folder, which must stay
// empty. The environment is set before the application object exists, as Qt reads it then.
#include "Form1.h"
#include "GuiTestSupport.h"
#include "QtFormServices.h"

#include <QDirIterator>
#include <QFileDialog>
#include <QListView>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace tromel::gui;
using tromel::gui::test::chooseFile;
using tromel::gui::test::items;
using tromel::gui::test::whenModal;
using tromel::gui::test::writeFile;

namespace {

QTemporaryDir* home = nullptr;

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
    QString programDir() override { return m_dir; }

private:
    QString m_dir;
};

} // namespace

class NoWritesTest : public QObject {
    Q_OBJECT

private slots:
    void startBrowseValidate()
    {
        QTemporaryDir fixtures;
        QVERIFY(writeFile(fixtures.filePath("cvars.ini"), "list v 1.25-02-2007\nr_a\n"));
        const QString cfg = fixtures.filePath("my.cfg");
        QVERIFY(writeFile(cfg, "seta r_a 1\n"));

        {
            FixtureServices services(
                QStringLiteral("TromelRimbolt-nowrites-%1").arg(QCoreApplication::applicationPid()),
                fixtures.path());
            Form1 form(services);
            QVERIFY(form.Form_Load());
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));

            whenModal<QFileDialog>([&](QFileDialog* dialog) { chooseFile(dialog, cfg); });
            QTest::mouseClick(form.findChild<QPushButton*>("Command1"), Qt::LeftButton);
            QCOMPARE(form.cfgPath(), QDir::toNativeSeparators(cfg));
            QTest::mouseClick(form.findChild<QPushButton*>("Command2"), Qt::LeftButton);
            QCOMPARE(items(form.findChild<QListView*>("List1")).value(0), QStringLiteral("Ligne: 0 - r_a"));
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        QCOMPARE(entries(home->path()), QStringList());
    }

    // The check above can see a write: a file chooser destroyed with the toolkit's own settings
    // path does leave its history behind.
    void checkSeesToolkitWrites()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home->filePath(".config"));
        {
            QFileDialog dialog;
        }
        QVERIFY(!entries(home->path()).isEmpty());
    }
};

int main(int argc, char* argv[])
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return 2;
    home = &dir;
    for (const char* name :
        { "HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR" })
        qputenv(name, QFile::encodeName(dir.path()));
    QApplication app(argc, argv);
    NoWritesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_nowrites.moc"
