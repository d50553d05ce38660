#pragma once

#include <QObject>
#include <QString>

#include <optional>

#include "serial/SerialSettings.h"

class QSocketNotifier;

// The serial line itself: one device opened non-blocking, raw 8-bit, held
// against other programs by the exclusive-use flag, flock and a lock file,
// and released on every way out of the process.
class Line : public QObject {
    Q_OBJECT
public:
    enum class State { Closed, Open, HungUp };
    enum class Refusal { None, Absent, NotSerial, NoPermission, Busy, Settings };

    explicit Line(QObject* parent = nullptr);
    ~Line() override;

    // Opens path with the given settings; on a refusal the line stays closed
    // and why says what happened, in words for the user.
    Refusal open(const QString& path, const SerialSettings::LineSettings& settings, QString* why);
    // Discards unsent output in the driver, releases the device, never waits.
    void close();
    State state() const { return m_state; }

    // Bytes read into data; 0 when nothing waits; -1 when the line went away.
    qsizetype read(char* data, qsizetype size);
    // Bytes the driver took; 0 when it is full; -1 when the line went away.
    qsizetype write(const char* data, qsizetype size);
    // Polls for a hang-up; true (and HungUp) when the line went away.
    bool checkGone();

    bool apply(const SerialSettings::LineSettings& settings);
    // What the driver holds now; speed 0 when it does not tell.
    std::optional<SerialSettings::LineSettings> current() const;

    // readyWrite is reported only while this is on.
    void watchWrite(bool on);

    // Releases every line this process holds. Async-signal-safe: for Exit,
    // the end of the process and a signal that ends it at once.
    static void releaseAll() noexcept;

signals:
    void readyRead();
    void readyWrite();

private:
    void goneAway();
    void release();

    int m_fd = -1;
    int m_slot = -1;
    State m_state = State::Closed;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
};
