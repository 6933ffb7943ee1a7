// Times the window on a report of a million items, offscreen: from the click on "Valider la cfg"
// to the first paint of the report, then frames while scrolling through it.
//
//   QT_QPA_PLATFORM=offscreen build/release/bench/window_bench [--close-after MS] [--chunk KIB]
//       [CVARS_INI CONFIG]
//
// Without a list and a config it writes a list and a config of 1,000,000 findings to a temporary
// folder. It prints one line: click-to-paint seconds, items, the slowest and median scroll
// frames and the peak resident memory; or the message the window showed instead of a report.
// With --close-after, it closes the window MS milliseconds after the click and prints how long
// the close took and whether the check was still running. --chunk sets the scan's read size.

#include "Application.h"
#include "Form1.h"
#include "FormServices.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

class BenchServices final : public tromel::gui::FormServices {
public:
    QString dir;
    QString config;
    QString message;

    void showMessage(const QString& title, const QString& prompt) override
    {
        message = title + ": " + prompt;
    }
    QString ShowOpenFile(const QString&, const QString&, const QString&) override { return config; }
    bool anotherInstanceRunning() override { return false; }
    std::string programDir() override { return dir.toStdString(); }
};

// The peak resident memory of this process so far, in MiB (Linux).
double peakMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    return 0;
}

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
    const auto app = tromel::gui::createApplication(argc, argv);
    QStringList args = QApplication::arguments().mid(1);
    int closeAfter = -1;
    int chunkKiB = 0;
    while (args.size() >= 2 && args[0].startsWith(QStringLiteral("--"))) {
        (args[0] == QStringLiteral("--close-after") ? closeAfter : chunkKiB) = args[1].toInt();
        args = args.mid(2);
    }

    QTemporaryDir tmp;
    BenchServices services;
    services.dir = tmp.path();
    QString list;
    if (args.size() == 2) {
        list = args[0];
        services.config = args[1];
        if (!QFile::copy(list, tmp.path() + "/cvars.ini"))
            return std::fprintf(stderr, "window_bench: cannot copy %s\n", qPrintable(list)), 2;
    } else if (!writeWorkload(tmp.path(), list, services.config)) {
        return std::fprintf(stderr, "window_bench: cannot write the workload\n"), 2;
    }

    tromel::gui::Form1 form(services);
    if (!form.Form_Load())
        return 2;
    if (chunkKiB > 0)
        form.setScanPlan({ 0, 0, static_cast<std::size_t>(chunkKiB) << 10 });
    form.show();
    auto* browse = form.findChild<QPushButton*>(QStringLiteral("Command1"));
    auto* validate = form.findChild<QPushButton*>(QStringLiteral("Command2"));
    auto* view = form.findChild<QAbstractItemView*>(QStringLiteral("List1"));
    if (browse == nullptr || validate == nullptr || view == nullptr)
        return std::fprintf(stderr, "window_bench: controls not found\n"), 2;
    PaintCounter painted;
    view->viewport()->installEventFilter(&painted);
    browse->click();
    QApplication::processEvents();

    QElapsedTimer clock;
    clock.start();
    validate->click();
    if (closeAfter >= 0) {
        QEventLoop wait;
        QTimer::singleShot(closeAfter, &wait, &QEventLoop::quit);
        wait.exec();
        const bool running = form.checking();
        clock.restart();
        form.close();
        std::printf("window: closed %.1f ms after the close request, %s\n",
            static_cast<double>(clock.nsecsElapsed()) / 1e6,
            running ? "the check was running" : "the check had ended");
        return 0;
    }

    // Run the event loop until the check has ended and the list has painted its report. Waiting
    // for events leaves the cores to the scan.
    const auto waitForEvents = QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents;
    while (form.checking())
        QApplication::processEvents(waitForEvents);
    if (!services.message.isEmpty()) {
        std::printf("window: message \"%s\" %.3f s after the click, window usable: %s; peak RSS %.1f MiB\n",
            qPrintable(services.message), static_cast<double>(clock.nsecsElapsed()) / 1e9,
            browse->isEnabled() && validate->isEnabled() ? "yes" : "no", peakMiB());
        return 0;
    }
    const int paintsBefore = painted.paints;
    while (painted.paints == paintsBefore)
        QApplication::processEvents(waitForEvents);
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
        "window: %d items shown %.3f s after the click; scroll frames: median %.2f ms, slowest %.2f ms; "
        "peak RSS %.1f MiB\n",
        rows, shown, frames[frames.size() / 2], frames.back(), peakMiB());
    return 0;
}
