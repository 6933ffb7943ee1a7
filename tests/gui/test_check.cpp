// The check runs off the window thread: the window shows that it is busy, a close stops the scan
// at once, and a report too large for memory is refused with a message while the window stays
// usable. The report keeps its findings compactly, whatever the list's size and the line numbers.
#include "CvarList.h"
#include "Form1.h"
#include "GuiTestSupport.h"
#include "Report.h"
#include "Scanner.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

using namespace tromel::gui;
using tromel::gui::test::FakeServices;
using tromel::gui::test::items;
using tromel::gui::test::writeFile;

namespace {

// A limit on the memory that large blocks hold, so that running out can be tested in-process.
constexpr std::size_t kLarge = 64 * 1024;
constexpr std::size_t kHeader = alignof(std::max_align_t); // holds the block's size
std::atomic<std::int64_t> g_held { 0 }; // by large blocks
std::atomic<std::int64_t> g_limit { INT64_MAX };

} // namespace

void* operator new(std::size_t size)
{
    const auto n = static_cast<std::int64_t>(size);
    if (size >= kLarge && g_held.fetch_add(n) + n > g_limit) {
        g_held -= n;
        throw std::bad_alloc();
    }
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (block == nullptr)
        throw std::bad_alloc();
    std::memcpy(block, &size, sizeof size);
    return block + kHeader;
}
void operator delete(void* p) noexcept
{
    if (p == nullptr)
        return;
    auto* block = static_cast<unsigned char*>(p) - kHeader;
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    if (size >= kLarge)
        g_held -= static_cast<std::int64_t>(size);
    std::free(block);
}
void operator delete(void* p, std::size_t) noexcept
{
    operator delete(p);
}

class CheckTest : public tromel::gui::test::FormFixture {
    Q_OBJECT

private:
    bool check(const char* name)
    {
        m_form->openConfig(path(name).toStdString());
        return pressValidate();
    }

private slots:
    void init() { m_services = FakeServices(); }
    void cleanup() { m_form.reset(); }

    void busyUntilClosed()
    {
        QVERIFY(start("list v 1.x\nr_a\n"));
        QFile huge(path("huge.cfg")); // a terabyte of nothing, on disk as a hole
        QVERIFY(huge.open(QIODevice::WriteOnly));
        if (!huge.resize(qint64(1) << 40))
            QSKIP("no sparse files here");
        huge.close();
        m_form->setScanPlan({ 1, 0, 0 });
        m_services.answers = QStringList { huge.fileName() };
        click("Command1");
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
        QCOMPARE(m_services.choosers.size(), 1);
        QCOMPARE(m_services.messages.size(), 0);
        QCOMPARE(items(w<QAbstractItemView>("List1")), QStringList());
    }

    void reportTooLarge()
    {
        // 70,000 names, all "a": 14 million findings in 1,400 bytes.
        QByteArray list = "list v 1.x\n";
        for (int i = 0; i < 70000; ++i)
            list += "a\n";
        QVERIFY(start(list));
        QVERIFY(writeFile(path("large.cfg"), QByteArray("set a \n").repeated(200)));
        QVERIFY(writeFile(path("small.cfg"), QByteArray("set a \n").repeated(2)));

        g_limit = g_held + (32 << 20);
        const bool ended = check("large.cfg");
        g_limit = INT64_MAX;
        QVERIFY(ended);
        QCOMPARE(m_services.messages.size(), 1);
        QCOMPARE(m_services.messages[0].title, QStringLiteral("Tromel Rimbolt: CFG"));
        QCOMPARE(m_services.messages[0].prompt, QStringLiteral("Report too large for memory."));
        QCOMPARE(items(w<QAbstractItemView>("List1")), QStringList()); // the partial report is dropped
        QVERIFY(w("Command1")->isEnabled());
        QVERIFY(w("Command2")->isEnabled());
        QCOMPARE(m_form->cursor().shape(), Qt::ArrowCursor);

        QVERIFY(check("small.cfg"));
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
        for (int i = 1; i <= names; ++i)
            list.names.push_back("n" + std::to_string(i));
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
        QCOMPARE(report.item(1), "Ligne: 0 - n" + std::to_string(names));
        QCOMPARE(report.item(in.size() - 1), "Ligne: 18446744073709551615 - n" + std::to_string(names));
        QCOMPARE(report.item(in.size()), std::string(" "));
        QCOMPARE(report.item(in.size() + 1), "Total: " + std::to_string(in.size()) + " cvars interdite");
    }
};

TROMEL_GUI_TEST_MAIN(CheckTest)
#include "test_check.moc"
