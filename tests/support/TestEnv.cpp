#include "support/TestEnv.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {
// A child test process shares its parent's store, so it can check what the
// child wrote.
QString storePath() {
    static const QString path = [] {
        if (qEnvironmentVariableIsSet("VELMORA_TEST_STORE"))
            return qEnvironmentVariable("VELMORA_TEST_STORE");
        static QTemporaryDir dir;
        qputenv("VELMORA_TEST_STORE", QFile::encodeName(dir.path()));
        return dir.path();
    }();
    return path;
}
}  // namespace

QString TestEnv::isolateUserStore() {
    const QString path = storePath();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(path));
    return path;
}

QString TestEnv::placementFile() {
    return storePath() + "/Velmora/Velmora.conf";
}

void TestEnv::setPortDevice(int port, const QString& path) {
    qputenv(port == 1 ? "VELMORA_COM1" : "VELMORA_COM2", QFile::encodeName(path));
}

BoxCloser::BoxCloser(std::function<void()> onShown) : m_onShown(std::move(onShown)) {
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        seen.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
        if (m_onShown) m_onShown();
        box->done(QMessageBox::Ok);
    });
    poll->start(10);
}
