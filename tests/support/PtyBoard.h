#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair playing the board: the program opens slavePath(),
// the test reads and writes the master. Both ends are raw from the start.
class PtyBoard {
public:
    PtyBoard();
    ~PtyBoard();
    PtyBoard(const PtyBoard&) = delete;
    PtyBoard& operator=(const PtyBoard&) = delete;

    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }
    // The test's own descriptor of the slave (for TIOCGEXCL and the like).
    int slaveFd() const { return m_slaveKeep; }

    // Writes all of bytes to the line (the board sends them).
    void send(const QByteArray& bytes);
    // Bytes the program has written that wait at the master (FIONREAD).
    int pending() const;
    // Waits until at least n bytes wait at the master, then reads exactly n.
    // Returns what it got when timeoutMs passes first.
    QByteArray receive(int n, int timeoutMs = 5000);
    // Reads whatever is waiting now.
    QByteArray receiveAll();
    // Waits until the slave side has taken everything sent (FIONREAD on it is 0
    // or the program has read it); useful before asserting on the program.
    bool waitSlaveHas(int n, int timeoutMs = 5000) const;
    // Pulls the cable: closes the master, the slave then reads EIO.
    void hangUp();

private:
    int m_master = -1;
    int m_slaveKeep = -1;  // held open so the pair lives until the program opens it
    QString m_slavePath;
};

// A board plugged into a port: COM<port>'s device is this pseudo-terminal.
class PluggedBoard : public PtyBoard {
public:
    explicit PluggedBoard(int port = 1);
};
