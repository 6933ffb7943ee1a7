// Times the window on a report of a million items, offscreen: from the click on "Valider la cfg"
// to the first paint of the list, then frames while scrolling through it.
//
//   QT_QPA_PLATFORM=offscreen build/release/bench/window_bench [CVARS_INI CONFIG]
//
// Without arguments it writes a list and a config of 1,000,000 findings to a temporary folder.
// It prints one line: click-to-paint seconds, items, and the slowest and median scroll frames.

#include "Form1.h"
#include "FormServices.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

class BenchServices final : public tromel::gui::FormServices {
public:
    QString dir;
    QString config;

    void showMessage(const QString& title, const QString& prompt) override
    {
        std::fprintf(stderr, "window_bench: message %s: %s\n", qPrintable(title), qPrintable(prompt));
    }
    QString ShowOpenFile(const QString&, const QString&, const QString&) override { return config; }
    bool anotherInstanceRunning() override { return false; }
    QString programDir() override { return dir; }
};

// Counts the paints of a widget.
class PaintCounter final : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// 500 names, each set on 2,000 lines.
bool writeWorkload(const QString& dir, QString& list, QString& config)
{
    QByteArray names = "Forbidden cvars 1.06-12-2026\n";
    for (int i = 0; i < 500; ++i)
        names += "cg_bench" + QByteArray::number(i) + "\n";
    QByteArray lines;
    lines.reserve(30 << 20);
    for (int i = 0; i < 1000000; ++i)
        lines += "seta cg_bench" + QByteArray::number(i % 500) + " \"1\"\n";
    list = dir + "/cvars.ini";
    config = dir + "/dense.cfg";
    return writeFile(list, names) && writeFile(config, lines);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir tmp;
    BenchServices services;
    services.dir = tmp.path();
    QString list;
    if (argc == 3) {
        list = QString::fromLocal8Bit(argv[1]);
        services.config = QString::fromLocal8Bit(argv[2]);
        if (!QFile::copy(list, tmp.path() + "/cvars.ini"))
            return std::fprintf(stderr, "window_bench: cannot copy %s\n", argv[1]), 2;
    } else if (!writeWorkload(tmp.path(), list, services.config)) {
        return std::fprintf(stderr, "window_bench: cannot write the workload\n"), 2;
    }

    tromel::gui::Form1 form(services);
    if (!form.Form_Load())
        return 2;
    form.show();
    auto* browse = form.findChild<QPushButton*>(QStringLiteral("Command1"));
    auto* validate = form.findChild<QPushButton*>(QStringLiteral("Command2"));
    auto* view = form.findChild<QListView*>(QStringLiteral("List1"));
    if (browse == nullptr || validate == nullptr || view == nullptr)
        return std::fprintf(stderr, "window_bench: controls not found\n"), 2;
    PaintCounter painted;
    view->viewport()->installEventFilter(&painted);
    browse->click();
    QApplication::processEvents();

    // Click, then run the event loop until the list has painted the new report.
    QElapsedTimer clock;
    const int paintsBefore = painted.paints;
    clock.start();
    validate->click();
    while (painted.paints == paintsBefore)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    const double shown = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const int rows = view->model()->rowCount();

    // Scrolling: jumps anywhere in the report and steps of a page, each painted before the next.
    QScrollBar* bar = view->verticalScrollBar();
    std::mt19937 rng(1);
    std::vector<double> frames;
    for (int i = 0; i < 400; ++i) {
        const int target = i % 2 == 0 ? static_cast<int>(rng() % static_cast<unsigned>(bar->maximum() + 1))
                                      : std::min(bar->maximum(), bar->value() + bar->pageStep());
        clock.restart();
        bar->setValue(target);
        view->viewport()->repaint();
        frames.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(frames.begin(), frames.end());
    std::printf(
        "window: %d items shown %.3f s after the click; scroll frames: median %.2f ms, slowest %.2f ms\n",
        rows, shown, frames[frames.size() / 2], frames.back());
    return 0;
}
