#include "window/long_work.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>

#include <exception>
#include <memory>

namespace rt {

namespace {

// Work shorter than this passes without a busy cursor, as it would on a
// fast machine anyway.
constexpr int kBusyAfterMs = 300;
// How often the window gets to repaint while it waits.
constexpr int kRepaintEveryMs = 20;

} // namespace

void runLongWork(const std::function<void()>& work) {
    std::exception_ptr error;
    const std::unique_ptr<QThread> thread(QThread::create([&work, &error] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
    }));
    thread->start();
    QElapsedTimer clock;
    clock.start();
    bool busy = false;
    while (!thread->wait(QDeadlineTimer(kRepaintEveryMs))) {
        if (!busy && clock.elapsed() >= kBusyAfterMs) {
            QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
            busy = true;
        }
        // Paints and the window system's other news, but no clicks, keys or
        // timer ticks: those wait for the handler to end.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                        QEventLoop::X11ExcludeTimers);
    }
    if (busy)
        QGuiApplication::restoreOverrideCursor();
    if (error)
        std::rethrow_exception(error);
}

} // namespace rt
