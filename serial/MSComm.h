#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>
#include <stdexcept>

#include "serial/SerialSettings.h"

class Line;

// Errors raised by the serial component. The numbers follow the classic
// communications control so that users of it recognise them:
//   380  Invalid property value (bad settings string, port number, input length or mode)
//   8000 Operation not valid while the port is opened (setting CommPort while open)
//   8002 Invalid port number (the device does not exist)
//   8005 Port already open (another program holds the device's lock)
//   8010 The hardware is not available (no permission, or not a serial device)
//   8012 The device is not open (read or write on a closed port)
//   8015 Could not set comm state (the line refused the settings)
//   8020 Error reading comm device (the device went away while open)
//   8021 Error writing comm device (the device went away while open)
// Ranges: CommPort 1..16 (380 otherwise); InputLen >= 0; InputMode 0 or 1.
// Text mode turns received bytes into characters through CodePage; binary
// mode gives each byte as the character of the same code (Latin-1). Opening
// with settings the line cannot hold (1.5 stop bits, or a line that quietly
// keeps other values) fails with 8015 and leaves the port closed.
// After the device went away (hang-up) PortOpen keeps reading true until the
// user sets it false; meanwhile Input, InBufferCount and a Settings change
// raise 8020 and Output raises 8021. Closing never fails.
class MSCommError : public std::runtime_error {
public:
    MSCommError(int number, const QString& text);
    int number() const { return m_number; }
    QString text() const { return QString::fromUtf8(what()); }

private:
    int m_number;
};

// The serial communications component of the main window. Polled from the
// UI thread; Input and Output work while the caller holds the thread, because
// they go to the line's descriptor directly. Closing discards unsent output.
class MSComm : public QObject {
    Q_OBJECT
public:
    static constexpr int InBufferSize = 1024;
    static constexpr int OutBufferSize = 512;
    enum InputModeConstants : short { comInputModeText = 0, comInputModeBinary = 1 };

    explicit MSComm(QObject* parent = nullptr);
    ~MSComm() override;  // releases an open port

    bool PortOpen() const;
    void setPortOpen(bool open);

    short CommPort() const { return m_commPort; }
    void setCommPort(short port);

    QString Settings() const;
    void setSettings(const QString& settings);

    short InputLen() const { return m_inputLen; }
    void setInputLen(short len);

    short InputMode() const { return m_inputMode; }
    void setInputMode(short mode);

    // Takes up to InputLen characters (all when 0) out of the receive buffer.
    QString Input();
    // Sends the whole text, in the line's code page, without waiting.
    void setOutput(const QString& text);

    // Receive-buffer bytes dropped because the buffer was full.
    quint64 droppedBytes() const { return m_dropped; }
    // Bytes waiting in the receive buffer (after draining the system).
    int InBufferCount();
    // The device path behind a port number: VELMORA_COMn, else the n-th serial
    // port present (PortOrder), else /dev/ttyS(n-1).
    static QString devicePath(short port);

private:
    using LineSettings = SerialSettings::LineSettings;

    [[noreturn]] static void raise(int number);
    void openPort();
    void closePort();
    void drainSystem();
    void store(const char* data, qsizetype size);
    void pushPending();
    bool hungUp() const;
    bool lineGone();
    void applySettings(const LineSettings& wanted);

    Line* m_line;
    short m_commPort = 1;
    LineSettings m_settings;
    short m_inputLen = 0;
    short m_inputMode = comInputModeText;
    bool m_open = false;    // what the user set PortOpen to; the line's own state says the rest
    QByteArray m_inBuffer;  // oldest unread bytes first, at most InBufferSize
    QByteArray m_pending;   // bytes to send, oldest first; m_pendingPos of them already went
    qsizetype m_pendingPos = 0;
    quint64 m_dropped = 0;
};
