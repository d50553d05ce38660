#include "support/WindowChecks.h"

#include "serial/MSComm.h"
#include "ui/frmMain.h"

#include <QAbstractButton>
#include <QEventLoop>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>

int WindowChecks::inkWidth(QWidget* w) {
    const QImage img = w->grab().toImage();
    int first = -1, last = -1;
    for (int x = 0; x < img.width(); ++x)
        for (int y = 0; y < img.height(); ++y)
            if (qGray(img.pixel(x, y)) < 128) {
                if (first < 0) first = x;
                last = x;
                break;
            }
    return first < 0 ? 0 : last - first + 1;
}

bool WindowChecks::clickKeepsRunning(QAbstractButton* button) {
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
        button->click();
        QTimer::singleShot(0, &loop, [&] { loop.exit(0); });
    });
    return loop.exec() == 0;
}

std::unique_ptr<frmMain> WindowChecks::startWindow() {
    auto form = std::make_unique<frmMain>();
    form->Form_Load();
    return form;
}

bool WindowChecks::showAndConnect(frmMain& form) {
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) return false;
    form.Connect->click();
    return form.MSComm1->PortOpen();
}
