// Inside the platform: work that is worth doing at most once per screen
// frame (a repaint, new texts of status lines), however often it is asked for.
//
// A speed policy of our own, not part of the Windows surface we stand in for:
// a live stream fires an event and rewrites the status lines for every image,
// hundreds of times a second on loopback, and drawing each of those would
// cost more than fetching the images. Users: CWnd::InvalidateRect (repaints)
// and CDialog's labels (new texts); a caller sees no difference except that
// the screen catches up within a frame. bench/client measures the effect.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <functional>

class FramePacer {
public:
    // `flush` does the work; it runs on `owner`'s thread, never after owner is gone.
    FramePacer(QWidget* owner, std::function<void()> flush) : m_owner(owner), m_flush(std::move(flush)) {}

    // Runs the work now when a frame has passed since it last ran, else once
    // when the frame is over.
    void Request() {
        if (m_timerActive) return;
        const qint64 since = m_last.isValid() ? m_last.elapsed() : kNever;
        const int interval = FrameInterval();
        if (since >= interval) {
            Run();
            return;
        }
        m_timerActive = true;
        QTimer::singleShot(int(interval - since), m_owner, [this] {
            m_timerActive = false;
            Run();
        });
    }
    // The work was done by other means just now (a paint Qt asked for).
    void Done() { m_last.start(); }
    bool Pending() const { return m_timerActive; }

private:
    static constexpr qint64 kNever = qint64(1) << 40;
    int FrameInterval() const {
        const QScreen* s = m_owner->screen();
        const qreal hz = s ? s->refreshRate() : 60.0;
        return hz >= 1.0 ? std::max(1, int(1000.0 / hz)) : 16;
    }
    void Run() {
        m_last.start();
        m_flush();
    }

    QWidget* m_owner;
    std::function<void()> m_flush;
    QElapsedTimer m_last;
    bool m_timerActive = false;
};
