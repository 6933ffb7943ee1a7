// The window: start-up, choosing, dropping or naming a file, and its check, which runs off the
// window thread: the window shows that it is busy, a close stops the scan at once, and a report
// too large for memory is refused with a message while the window stays usable.
#include "Application.h"
#include "CvarList.h"
#include "Form1.h"
#include "FormServices.h"
#include "GuiTestSupport.h"
#include "Report.h"
#include "Scanner.h"
#include "platform/NativeFile.h"

#include <QAbstractItemView>
#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QUrl>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>

using namespace tromel::gui;
using tromel::gui::test::writeFile;

namespace {

// Version "\x80" is Windows-1252, date "d\xc3\xa9c" UTF-8: each is shown as what it is.
const QByteArray kList = "Forbidden cvars \x80.d\xc3\xa9"
                         "c\r\nr_a\r\n\r\ncg_b\r\nr_\xe9\r\n";

/// Scripted services: answers the file chooser from a queue and records "title / prompt" messages.
class FakeServices final : public FormServices {
public:
    bool otherInstance = false;
    QString dir;
    QStringList answers; // ShowOpenFile answers, in order; empty when exhausted means "cancel"
    QStringList messages;
    int choosers = 0;

    void showMessage(const QString& title, const QString& prompt) override
    {
        messages << title + " / " + prompt;
    }
    QString ShowOpenFile(const QString&, const QString&, const QString&) override
    {
        ++choosers;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    bool anotherInstanceRunning() override { return otherInstance; }
    std::string programDir() override { return dir.toStdString(); }
};

// Large allocations left before one fails, so that running out of memory can be tested in-process.
constexpr std::size_t kLarge = 64 * 1024;
std::atomic<std::int64_t> g_largeLeft { INT64_MAX };

} // namespace

void* operator new(std::size_t size)
{
    void* block = size >= kLarge && g_largeLeft-- <= 0 ? nullptr : std::malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

class Form1Test : public QObject {
    Q_OBJECT

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
    /// Starts with list as cvars.ini (null: none).
    bool start(const QByteArray& list)
    {
        m_services.dir = m_dir.path();
        m_form = std::make_unique<Form1>(m_services);
        return (list.isNull() || writeFile(path("cvars.ini"), list)) && m_form->Form_Load();
    }
    /// Browses to a config file holding cfg (null cfg: cancel), returns its path.
    QString browse(const char* name, const QByteArray& cfg)
    {
        const QString file = cfg.isNull() ? QString() : path(name);
        if (!file.isEmpty())
            writeFile(file, cfg);
        m_services.answers = QStringList { file };
        click("Command1");
        return file;
    }
    QStringList report()
    {
        QStringList out;
        const QAbstractItemModel* model = w<QAbstractItemView>("List1")->model();
        for (int row = 0; row < model->rowCount(); ++row)
            out << model->index(row, 0).data().toString();
        return out;
    }
    /// The one message, which starts with prefix; an empty prefix: no message.
    bool toldOnce(const QString& prefix) const
    {
        return m_services.messages.size() == (prefix.isEmpty() ? 0 : 1)
            && (prefix.isEmpty() || m_services.messages[0].startsWith(prefix));
    }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_services = FakeServices();
    }
    void cleanup()
    {
        m_form.reset();
        // By the names' bytes: some are not UTF-8, which Qt cannot name.
        const auto dir = tromel::platform::pathFromUtf8(QFile::encodeName(m_dir.path()).toStdString());
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        std::filesystem::create_directory(dir, ec);
    }

    void startUp_data()
    {
        QTest::addColumn<bool>("otherInstance");
        QTest::addColumn<QByteArray>("list"); // null: no cvars.ini
        QTest::addColumn<QString>("message"); // starts with this; empty: none, the window may show
        QTest::addColumn<QStringList>("labels"); // Label4, Label5, Label6

        const QString ini = "Tromel Rimbolt: INI / ";
        // Without a list too: the instance is asked first.
        QTest::newRow("second instance")
            << true << QByteArray() << "Tromel Rimbolt:  / Program exit." << QStringList();
        QTest::newRow("no list") << false << QByteArray() << ini + "cvars.ini not found." << QStringList();
        QTest::newRow("two header fields")
            << false << QByteArray("a b\nr_a\n") << ini + "the header line of cvars.ini" << QStringList();
        QTest::newRow("list") << false << kList << "" << QStringList { "\u20ac", "d\u00e9c", "3" };
        QTest::newRow("empty list") << false << QByteArray("") << "" << QStringList { "", "", "0" };
    }
    void startUp()
    {
        QFETCH(bool, otherInstance);
        QFETCH(QByteArray, list);
        QFETCH(QString, message);
        QFETCH(QStringList, labels);
        m_services.otherInstance = otherInstance;
        QCOMPARE(start(list), message.isEmpty());
        QVERIFY2(toldOnce(message), qPrintable(m_services.messages.join('\n')));
        if (!labels.isEmpty())
            QCOMPARE((QStringList { w<QLabel>("Label4")->text(), w<QLabel>("Label5")->text(),
                         w<QLabel>("Label6")->text() }),
                labels);
    }

    // Parcourir: a new choice drops the report; a cancelled one forgets the file but keeps its name.
    void browse()
    {
        QVERIFY(start(kList));
        browse("my.cfg", "seta r_a 1\n");
        QVERIFY(pressValidate());
        QCOMPARE(report().size(), 3);
        browse("other.cfg", "x\n");
        QCOMPARE(report(), QStringList());
        QVERIFY(pressValidate());
        QCOMPARE(report().size(), 2);
        browse("", QByteArray());
        QCOMPARE(m_form->cfgPath(), std::string());
        QCOMPARE(w<QLabel>("Label7")->text(), QStringLiteral("other.cfg"));
        QCOMPARE(report(), QStringList());
        QVERIFY(pressValidate());
        QCOMPARE(m_services.messages, QStringList { "Tromel Rimbolt: CFG / Cfg not found." });
    }

    // The chosen file is checked, then replaced by cfg (null: removed) and checked again.
    void validate_data()
    {
        QTest::addColumn<QByteArray>("cfg");
        QTest::addColumn<QString>("prompt"); // the message starts with this; empty: no message
        QTest::addColumn<QStringList>("report");

        const QString cfgTitle = "Tromel Rimbolt: CFG / ";
        const QStringList first = { "Ligne: 0 - r_a", " ", "Total: 1 cvars interdite" };
        QTest::newRow("pressed twice") << QByteArray("seta r_a 1") << "" << first;
        QTest::newRow("now missing") << QByteArray() << cfgTitle + "Cfg not found." << first;
        QTest::newRow("now unreadable") << QByteArray("x") << cfgTitle + "my.cfg: cannot read" << first;
        QTest::newRow("now empty") << QByteArray("") << "" << first;
        QStringList order; // list order within a line; names shown byte for byte
        for (int i = 0; i < 12; i += 2)
            order << QStringLiteral("Ligne: %1 - r_a").arg(i) << QStringLiteral("Ligne: %1 - cg_b").arg(i)
                  << QStringLiteral("Ligne: %1 - r_\u00e9").arg(i + 1);
        QTest::newRow("order") << QByteArray("seta cg_b r_a \n seta r_\xe9 1\n").repeated(6) << ""
                               << order + QStringList { " ", "Total: 18 cvars interdite" };
    }
    void validate()
    {
        QFETCH(QByteArray, cfg);
        QFETCH(QString, prompt);
        QFETCH(QStringList, report);

        QVERIFY(start(kList));
        const QString file = browse("my.cfg", "seta r_a 1");
        QVERIFY(pressValidate());
        QVERIFY(QFile::remove(file));
        if (!cfg.isNull())
            QVERIFY(writeFile(file, cfg));
        if (prompt.endsWith("cannot read")) {
            QVERIFY(QFile::setPermissions(file, QFileDevice::Permissions()));
            if (QFile(file).open(QIODevice::ReadOnly))
                QSKIP("root reads files whatever their permissions");
        }
        QVERIFY(pressValidate());

        QVERIFY2(toldOnce(prompt), qPrintable(m_services.messages.join('\n')));
        QCOMPARE(this->report(), report);
        if (report.size() > 10) { // the rest scrolls inside the list
            m_form->show();
            QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
            QVERIFY(w<QAbstractItemView>("List1")->verticalScrollBar()->isVisible());
        }
    }

    // A file dropped on the window or named on the command line is taken as if chosen with
    // Command1, by its name's bytes; anything but one existing file is refused.
    void takeFile_data()
    {
        QTest::addColumn<bool>("drop"); // else named on the command line
        QTest::addColumn<QByteArrayList>("names"); // made in the folder ("/" at the end: a folder)
        QTest::addColumn<QString>("label"); // Label7 afterwards; empty: refused

        QTest::newRow("dropped") << true << QByteArrayList { "player.cfg" } << "player.cfg";
        QTest::newRow("dropped twice") << true << QByteArrayList { "a.cfg", "b.cfg" } << "";
        QTest::newRow("dropped folder") << true << QByteArrayList { "x.cfg/" } << "";
        QTest::newRow("named -") << false << QByteArrayList { "-" } << "-"; // the file, not stdin
#ifndef Q_OS_WIN // names are UTF-16 there
        QTest::newRow("dropped, Windows-1252 name")
            << true << QByteArrayList { "\xe9t\xe9.cfg" } << "\u00e9t\u00e9.cfg";
        QTest::newRow("named, Windows-1252 name")
            << false << QByteArrayList { "\xe9t\xe9.cfg" } << "\u00e9t\u00e9.cfg";
#endif
    }
    void takeFile()
    {
        QFETCH(bool, drop);
        QFETCH(QByteArrayList, names);
        QFETCH(QString, label);
        QVERIFY(start(kList));
        QList<QUrl> urls;
        for (QByteArray name : names) {
            const QByteArray bytes = QFile::encodeName(m_dir.path()) + '/' + name;
            if (name.endsWith('/'))
                QVERIFY(QDir().mkdir(QString::fromUtf8(bytes)));
            else
                QVERIFY(std::ofstream(tromel::platform::pathFromUtf8(bytes.toStdString())) << "seta r_a 1\n");
            urls << QUrl::fromEncoded("file://" + bytes.toPercentEncoding("/"));
        }
        if (drop) {
            QVERIFY(m_form->acceptDrops());
            QMimeData data;
            data.setUrls(urls);
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(m_form.get(), &enter);
            QCOMPARE(enter.isAccepted(), !label.isEmpty());
            QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(m_form.get(), &dropped);
        } else {
            const QString cwd = QDir::currentPath();
            QVERIFY(QDir::setCurrent(m_dir.path()));
            QByteArray program("TromelRimbolt"), name = names[0];
            char* argv[] = { program.data(), name.data(), nullptr };
            m_form->openConfig(commandLineFile(2, argv));
            QVERIFY(QDir::setCurrent(cwd));
        }
        QCOMPARE(w<QLabel>("Label7")->text(), label.isEmpty() ? QStringLiteral("none") : label);
        QCOMPARE(w("Command2")->isEnabled(), !label.isEmpty());
        if (label.isEmpty())
            return;
        QVERIFY(pressValidate());
        QCOMPARE(m_services.messages.size(), 0);
        QCOMPARE(report().value(0), QStringLiteral("Ligne: 0 - r_a"));
    }

    void busyUntilClosed()
    {
        QVERIFY(start("list v 1.x\nr_a\n"));
        browse("huge.cfg", ""); // then a terabyte of nothing, on disk as a hole
        if (!QFile::resize(path("huge.cfg"), qint64(1) << 40))
            QSKIP("no sparse files here");
        m_form->setScanPlan({ 1, 0, 0 });
        click("Command2");

        QVERIFY(m_form->checking());
        QVERIFY(!w("Command1")->isEnabled());
        QVERIFY(!w("Command2")->isEnabled());
        QCOMPARE(m_form->cursor().shape(), Qt::WaitCursor);
        m_form->openConfig(path("other.cfg").toStdString()); // as a drop would: refused
        QCOMPARE(w<QLabel>("Label7")->text(), QStringLiteral("huge.cfg"));

        // Without the scan stopping, closing would take longer than the test may run.
        QVERIFY(m_form->close());
        QVERIFY(!m_form->checking());
        m_form->Command1_Click(); // a click that arrives after the close opens nothing
        QCOMPARE(m_services.choosers, 1);
        QCOMPARE(m_services.messages.size(), 0);
        QCOMPARE(report(), QStringList());
    }

    void reportTooLarge()
    {
        // 70,000 names, all "a": 14 million findings in 1,400 bytes.
        QVERIFY(start("list v 1.x\n" + QByteArray("a\n").repeated(70000)));
        QVERIFY(writeFile(path("small.cfg"), QByteArray("set a \n").repeated(2)));
        browse("large.cfg", QByteArray("set a \n").repeated(200));

        g_largeLeft = 32; // a few blocks of the report
        const bool ended = pressValidate();
        g_largeLeft = INT64_MAX;
        QVERIFY(ended);
        QCOMPARE(m_services.messages, QStringList { "Tromel Rimbolt: CFG / Report too large for memory." });
        QCOMPARE(report(), QStringList()); // the partial report is dropped
        QVERIFY(w("Command1")->isEnabled());
        QVERIFY(w("Command2")->isEnabled());
        QCOMPARE(m_form->cursor().shape(), Qt::ArrowCursor);

        m_form->openConfig(path("small.cfg").toStdString());
        QVERIFY(pressValidate());
        const QAbstractItemModel* report = w<QAbstractItemView>("List1")->model();
        QCOMPARE(report->rowCount(), 140002);
        QCOMPARE(report->index(140001, 0).data().toString(), QStringLiteral("Total: 140000 cvars interdite"));
    }

    void compactReport_data()
    {
        QTest::addColumn<int>("names"); // the list's size: its last index is used
        QTest::addColumn<int>("findings"); // on lines 0, 0, 1, 1, ... then far lines
        QTest::newRow("1-byte names") << 255 << 10;
        QTest::newRow("2-byte names") << 256 << 10;
        QTest::newRow("4-byte names") << 70000 << 10;
        QTest::newRow("past a block") << 3 << (1 << 20) + 3;
    }
    void compactReport()
    {
        QFETCH(int, names);
        QFETCH(int, findings);
        tromel::CvarList list;
        list.names.resize(names + 1);
        std::vector<tromel::Finding> in;
        for (int i = 0; i < findings; ++i)
            in.push_back({ std::uint64_t(i / 2), std::uint32_t(i % 2 ? names : 1) });
        // Gaps that do not fit in 32 bits, and the largest line number.
        for (std::uint64_t line : { std::uint64_t(1) << 32, (std::uint64_t(1) << 33) + 5, ~std::uint64_t(0) })
            in.push_back({ line, std::uint32_t(names) });

        tromel::Report report(list);
        report.add(in.data(), 7);
        report.add(in.data() + 7, in.size() - 7);
        QCOMPARE(report.findings(), std::uint64_t(in.size()));
        for (std::size_t i = 0; i < in.size(); ++i)
            if (!(report.finding(i) == in[i]))
                QFAIL(qPrintable(QStringLiteral("finding %1 differs").arg(i)));
    }
};

int main(int argc, char* argv[])
{
    const auto app = createApplication(argc, argv); // the program's own, which leaves no temp files
    Form1Test test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_form1.moc"
