#include "Application.h"
#include "Form1.h"
#include "GuiTestSupport.h"
#include "platform/NativeFile.h"

#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <filesystem>
#include <fstream>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace tromel::gui;
using tromel::gui::test::FakeServices;
using tromel::gui::test::items;
using tromel::gui::test::writeFile;

namespace {

const QByteArray kList = "Forbidden cvars 2.1.03-01-2007\r\nr_a\r\n\r\ncg_b\r\nr_\xe9\r\n";

enum class Ini { Missing, Directory, File, Fifo, DevZero };

// Makes path a folder, a FIFO or a link to /dev/zero: none of them may be read, nor block.
bool makeSpecial(Ini kind, const QString& path)
{
    const QByteArray p = QFile::encodeName(path);
    switch (kind) {
    case Ini::Directory:
        return QDir().mkdir(path);
    case Ini::Fifo:
        return ::mkfifo(p.constData(), 0600) == 0;
    case Ini::DevZero:
        return ::symlink("/dev/zero", p.constData()) == 0;
    default:
        return true;
    }
}

} // namespace

class Form1Test : public tromel::gui::test::FormFixture {
    Q_OBJECT

private:
    bool start(const QByteArray& list = kList) { return FormFixture::start(list); }
    /// Browses to a config file holding cfg (empty cfg: cancel), returns its path.
    QString browse(const char* name, const QByteArray& cfg)
    {
        const QString file = cfg.isNull() ? QString() : path(name);
        if (!file.isEmpty())
            writeFile(file, cfg);
        m_services.answers = QStringList { file };
        click("Command1");
        return file;
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
        QTest::addColumn<int>("ini");
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QString>("title"); // empty: no message, the window may show
        QTest::addColumn<QString>("prompt"); // the message holds this
        QTest::addColumn<QStringList>("labels"); // Label4, Label5, Label6

        const int file = int(Ini::File);
        QTest::newRow("second instance") << true << file << kList << "Tromel Rimbolt: "
                                         << "Program exit." << QStringList();
        QTest::newRow("no list") << false << int(Ini::Missing) << kList << "Tromel Rimbolt: INI"
                                 << "cvars.ini not found." << QStringList();
        QTest::newRow("list is a fifo") << false << int(Ini::Fifo) << kList << "Tromel Rimbolt: INI"
                                        << "cvars.ini not found." << QStringList();
        QTest::newRow("list is a folder") << false << int(Ini::Directory) << kList << "Tromel Rimbolt: INI"
                                          << "cvars.ini not found." << QStringList();
        QTest::newRow("two header fields")
            << false << file << QByteArray("a b\nr_a\n") << "Tromel Rimbolt: INI"
            << "header" << QStringList();
        QTest::newRow("list") << false << file << kList << ""
                              << "" << QStringList { "2.1", "03-01-2007", "3" };
        QTest::newRow("empty version") << false << file << QByteArray("a b .x\nr_a") << ""
                                       << "" << QStringList { "", "x", "1" };
        QTest::newRow("header only") << false << file << QByteArray("a b 1.x\n") << ""
                                     << "" << QStringList { "1", "x", "0" };
        QTest::newRow("empty list") << false << file << QByteArray("") << ""
                                    << "" << QStringList { "", "", "0" };
        QTest::newRow("UTF-8 header") << false << file
                                      << QByteArray("a b 1.06-d\xc3\xa9"
                                                    "c-2026\nr_a")
                                      << ""
                                      << "" << QStringList { "1", "06-d\u00e9c-2026", "1" };
        QTest::newRow("Windows-1252 header") << false << file
                                             << QByteArray("a b \x80.d\xe9"
                                                           "c\nr_a")
                                             << ""
                                             << "" << QStringList { "\u20ac", "d\u00e9c", "1" };
    }
    void startUp()
    {
        QFETCH(bool, otherInstance);
        QFETCH(int, ini);
        QFETCH(QByteArray, list);
        QFETCH(QString, title);
        QFETCH(QString, prompt);
        QFETCH(QStringList, labels);

        if (ini == int(Ini::File))
            QVERIFY(writeFile(path("cvars.ini"), list));
        else
            QVERIFY(makeSpecial(Ini(ini), path("cvars.ini")));
        m_services.dir = m_dir.path();
        m_services.otherInstance = otherInstance;
        m_form = std::make_unique<Form1>(m_services);

        QCOMPARE(m_form->Form_Load(), title.isEmpty());
        QCOMPARE(m_services.messages.size(), title.isEmpty() ? 0 : 1);
        if (!title.isEmpty()) {
            QCOMPARE(m_services.messages[0].title, title);
            QVERIFY2(
                m_services.messages[0].prompt.contains(prompt), qPrintable(m_services.messages[0].prompt));
        }
        if (otherInstance)
            QCOMPARE(m_services.programDirCalls, 0); // the list is not even looked for
        if (!labels.isEmpty()) {
            QCOMPARE(w<QLabel>("Label4")->text(), labels[0]);
            QCOMPARE(w<QLabel>("Label5")->text(), labels[1]);
            QCOMPARE(w<QLabel>("Label6")->text(), labels[2]);
        }
    }

    void initialState()
    {
        QVERIFY(start());
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Tromel Rimbolt v0.1"));
        QCOMPARE(m_form->minimumSize(), m_form->maximumSize());
        QVERIFY(!(m_form->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        const QList<QPair<const char*, QString>> captions
            = { { "Label1", "Version:" }, { "Label2", "Date:" }, { "Label3", "Cvars:" }, { "Label7", "none" },
                  { "Command1", "Parcourir" }, { "Command2", "Valider la cfg" } };
        for (const auto& [name, text] : captions)
            QCOMPARE(w(name)->property("text").toString(), text);
        QVERIFY(w("Command1")->isEnabled());
        QVERIFY(!w("Command2")->isEnabled());
        QCOMPARE(items(w<QAbstractItemView>("List1")), QStringList());
        m_form->show();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        QCOMPARE(QApplication::focusWidget(), w("Command1"));
    }

    void browse()
    {
        QVERIFY(start());
        const QString first = browse("my.cfg", "seta r_a 1\n");
        QVERIFY(pressValidate());
        QCOMPARE(items(w<QAbstractItemView>("List1")).size(), 3);

        const QString cwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(QDir::tempPath())); // the chooser starts here, not beside the program
        const QString chosen = browse("other.cfg", "x\n");
        QVERIFY(QDir::setCurrent(cwd));
        QCOMPARE(m_services.choosers.size(), 2);
        QCOMPARE(m_services.choosers[1].title, QStringLiteral("Choississez un fichier de configuration..."));
        QCOMPARE(m_services.choosers[1].filter, QStringLiteral("Config ET (*.cfg)"));
        QCOMPARE(m_services.choosers[1].initialDir, QDir::tempPath());
        QCOMPARE(QString::fromStdString(m_form->cfgPath()), chosen);
        QCOMPARE(w<QLabel>("Label7")->text(), QStringLiteral("other.cfg"));
        QVERIFY(w("Command2")->isEnabled());
        QCOMPARE(items(w<QAbstractItemView>("List1")), QStringList());
        QVERIFY(first != chosen);

        // A name wider than Label7 is cut off; the label and its box keep their size.
        browse("a rather long name for a config file.cfg", "x\n");
        QCOMPARE(w("Label7")->size(), QSize(129, 17));
        QCOMPARE(w("Picture2")->size(), QSize(145, 17));
    }

    void cancelAfterChoice()
    {
        QVERIFY(start());
        browse("my.cfg", "seta r_a 1\n");
        QVERIFY(pressValidate());
        browse("", QByteArray());
        QCOMPARE(m_form->cfgPath(), std::string());
        QCOMPARE(w<QLabel>("Label7")->text(), QStringLiteral("my.cfg"));
        QVERIFY(w("Command2")->isEnabled());
        QCOMPARE(items(w<QAbstractItemView>("List1")), QStringList());

        QVERIFY(pressValidate());
        QCOMPARE(m_services.messages.size(), 1);
        QCOMPARE(m_services.messages[0].title, QStringLiteral("Tromel Rimbolt: CFG"));
        QCOMPARE(m_services.messages[0].prompt, QStringLiteral("Cfg not found."));
    }

    void validate_data()
    {
        QTest::addColumn<int>("kind"); // what the chosen file becomes before the second press
        QTest::addColumn<QByteArray>("cfg");
        QTest::addColumn<QString>("prompt"); // empty: no message
        QTest::addColumn<QStringList>("report");

        const QStringList first = { "Ligne: 0 - r_a", " ", "Total: 1 cvars interdite" };
        const int file = int(Ini::File);
        QTest::newRow("pressed twice") << file << QByteArray("seta r_a 1") << "" << first;
        QTest::newRow("now missing") << int(Ini::Missing) << QByteArray() << "Cfg not found." << first;
        QTest::newRow("now a folder") << int(Ini::Directory) << QByteArray() << "Cfg not found." << first;
        QTest::newRow("now /dev/zero") << int(Ini::DevZero) << QByteArray() << "Cfg not found." << first;
        QTest::newRow("now empty") << file << QByteArray("") << "" << first;
        QTest::newRow("other findings")
            << file << QByteArray("\n\nset cg_b 1\nseta R_A 1\nbind x r_a 1\nseta r_a 1 r_a 2\n") << ""
            << QStringList { "Ligne: 0 - cg_b", "Ligne: 3 - r_a", " ", "Total: 2 cvars interdite" };
        QTest::newRow("no findings") << file << QByteArray("seta r_ab 1\n") << ""
                                     << QStringList { " ", "Total: 0 cvars interdite" };
    }
    void validate()
    {
        QFETCH(int, kind);
        QFETCH(QByteArray, cfg);
        QFETCH(QString, prompt);
        QFETCH(QStringList, report);

        QVERIFY(start());
        const QString file = browse("my.cfg", "seta r_a 1");
        QVERIFY(pressValidate());
        QVERIFY(QFile::remove(file));
        if (kind == int(Ini::File))
            QVERIFY(writeFile(file, cfg));
        else
            QVERIFY(makeSpecial(Ini(kind), file));
        QVERIFY(pressValidate());

        QCOMPARE(m_services.messages.size(), prompt.isEmpty() ? 0 : 1);
        if (!prompt.isEmpty()) {
            QCOMPARE(m_services.messages[0].title, QStringLiteral("Tromel Rimbolt: CFG"));
            QCOMPARE(m_services.messages[0].prompt, prompt);
        }
        QCOMPARE(items(w<QAbstractItemView>("List1")), report);
    }

    void unreadableFiles()
    {
#ifdef Q_OS_UNIX
        if (::geteuid() == 0)
            QSKIP("root reads files whatever their permissions");
#endif
        QVERIFY(start());
        const QString file = browse("my.cfg", "seta r_a 1");
        QVERIFY(QFile::setPermissions(file, QFileDevice::Permissions()));
        QVERIFY(pressValidate());
        QCOMPARE(m_services.messages.size(), 1);
        QCOMPARE(m_services.messages[0].title, QStringLiteral("Tromel Rimbolt: CFG"));
        QVERIFY(m_services.messages[0].prompt.startsWith(QStringLiteral("my.cfg: cannot read")));
        QCOMPARE(items(w<QAbstractItemView>("List1")), QStringList());

        QVERIFY(QFile::setPermissions(path("cvars.ini"), QFileDevice::Permissions()));
        m_services = FakeServices();
        m_services.dir = m_dir.path();
        m_form = std::make_unique<Form1>(m_services);
        QVERIFY(!m_form->Form_Load());
        QCOMPARE(m_services.messages.size(), 1);
        QCOMPARE(m_services.messages[0].title, QStringLiteral("Tromel Rimbolt: INI"));
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
        QTest::newRow("named") << false << QByteArrayList { "player.cfg" } << "player.cfg";
        QTest::newRow("named -") << false << QByteArrayList { "-" } << "-"; // the file, not stdin
#ifndef Q_OS_WIN
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
        QVERIFY(start());
        QList<QUrl> urls;
        for (QByteArray name : names) {
            const QByteArray bytes = QFile::encodeName(m_dir.path()) + '/' + name;
            const auto file = tromel::platform::pathFromUtf8(bytes.toStdString());
            if (name.endsWith('/'))
                QVERIFY(QDir().mkdir(QString::fromUtf8(bytes)));
            else
                QVERIFY(static_cast<bool>(std::ofstream(file) << "seta r_a 1\n"));
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
        QCOMPARE(items(w<QAbstractItemView>("List1")).value(0), QStringLiteral("Ligne: 0 - r_a"));
    }

    void reportOrder()
    {
        QVERIFY(start());
        QByteArray cfg;
        for (int i = 0; i < 11; ++i)
            cfg += "seta r_a " + QByteArray::number(i) + "\n";
        cfg += "seta cg_b r_a \n seta r_\xe9 1\n";
        browse("order.cfg", cfg);
        QVERIFY(pressValidate());

        QStringList expected;
        for (int i = 0; i < 11; ++i)
            expected << QStringLiteral("Ligne: %1 - r_a").arg(i);
        expected << "Ligne: 11 - r_a"
                 << "Ligne: 11 - cg_b" << QStringLiteral("Ligne: 12 - r_\u00e9") << " "
                 << "Total: 14 cvars interdite";
        auto* list = w<QAbstractItemView>("List1");
        QCOMPARE(items(list), expected);

        // The rest scrolls inside the list; the window keeps its size.
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QVERIFY(list->verticalScrollBar()->isVisible());
        QCOMPARE(m_form->size(), QSize(360, 191));
    }
};

TROMEL_GUI_TEST_MAIN(Form1Test)
#include "test_form1.moc"
