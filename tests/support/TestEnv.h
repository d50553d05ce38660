#pragma once

#include <QString>

class frmMain;

namespace TestEnv {
// Points the per-user store at a fresh temporary folder, so no test touches
// the real user's settings. Call before anything creates a QSettings.
QString isolateUserStore();
// Path of the placement file inside the isolated store.
QString placementFile();
// Points COM1 / COM2 at a device (a test's pseudo-terminal).
void setPortDevice(int port, const QString& path);
}  // namespace TestEnv

#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <functional>

// Watches for modal message boxes while it lives, records each and presses OK,
// so a handler that opens one returns. onShown runs while the box is open
// (before it is closed), for checks of what else happens meanwhile.
class BoxCloser : public QObject {
public:
    struct Seen {
        QString title, text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
    };
    explicit BoxCloser(std::function<void()> onShown = {});
    QList<Seen> seen;

private:
    std::function<void()> m_onShown;
};
