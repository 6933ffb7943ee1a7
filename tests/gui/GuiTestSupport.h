#pragma once

#include <QApplication>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <functional>

namespace tromel::gui::test {

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

/// Hands the next modal dialog of type D to handle once it is up, from the event loop that runs
/// it. A dialog that a fault leaves open is closed after a few seconds, so the run can't hang.
template <typename D> void whenModal(std::function<void(D*)> handle)
{
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [timer, handle, ticks = 0, handled = false]() mutable {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<D*>(modal); dialog && !handled) {
            handled = true;
            ticks = 0;
            handle(dialog);
        } else if (handled && !modal) {
            timer->deleteLater(); // which stops it
        } else if (++ticks > 300 && modal) {
            modal->close();
        }
    });
    timer->start(10);
}

} // namespace tromel::gui::test
