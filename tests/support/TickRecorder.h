#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <algorithm>

// Records when a timer fires, to tell whether the event loop kept up with it
// while something else went on.
class TickRecorder {
public:
    explicit TickRecorder(QTimer* timer) {
        m_clock.start();
        m_connection =
            QObject::connect(timer, &QTimer::timeout, [this] { m_at << m_clock.elapsed(); });
    }
    ~TickRecorder() { QObject::disconnect(m_connection); }
    TickRecorder(const TickRecorder&) = delete;
    TickRecorder& operator=(const TickRecorder&) = delete;

    qsizetype count() const { return m_at.size(); }

    // The longest time without a tick, in ms: between two ticks, before the
    // first or since the last.
    qint64 largestGapMs() const {
        qint64 previous = 0, largest = 0;
        for (qint64 at : m_at) {
            largest = std::max(largest, at - previous);
            previous = at;
        }
        return std::max(largest, m_clock.elapsed() - previous);
    }

private:
    QElapsedTimer m_clock;
    QList<qint64> m_at;  // ms since the recorder was made
    QMetaObject::Connection m_connection;
};
