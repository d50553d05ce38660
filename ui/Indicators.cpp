// The indicator operations every handler reports through.
#include "serial/CodePage.h"
#include "ui/Shape.h"
#include "ui/StatusBar.h"
#include "ui/Twips.h"
#include "ui/frmMain.h"

#include <QLabel>
#include <QResizeEvent>
#include <QTimer>

#include <stdexcept>

namespace {
const QColor Lit(255, 0, 0);
const QColor Dark(0, 0, 0);

// "h:n:s" of an elapsed time; whole days are counted into the hours.
QString ElapsedText(qint64 ms) {
    const qint64 seconds = qMax<qint64>(0, ms) / 1000;
    return QStringLiteral("%1:%2:%3").arg(seconds / 3600).arg(seconds / 60 % 60).arg(seconds % 60);
}
}  // namespace

void frmMain::ShowMessage(const QString& text) {
    MessageText->setText(text);
}

void frmMain::SetPanelText(const QString& key, const QString& text) {
    sbStatusBar->setPanelText(key, text);
}

QString frmMain::PanelText(const QString& key) const {
    return sbStatusBar->panelText(key);
}

QRgb frmMain::LampColor(const QString& lampName) const {
    auto* lamp = findChild<Shape*>(lampName);
    if (!lamp) throw std::invalid_argument("no lamp named " + lampName.toStdString());
    return lamp->fillColor().rgb() & 0xFFFFFF;
}

void frmMain::SetLampRow(const std::array<Shape*, 8>& row, const QString& Code) {
    // Only the low byte of the code counts.
    const int v = CodePage::FirstCharCode(Code);
    for (int k = 0; k < 8; ++k) row[k]->setFillColor((v >> k) & 1 ? Lit : Dark);
    // The code as a reader without the colours gets it.
    const int low = v & 0xFF;
    row[0]->parentWidget()->setAccessibleDescription(
        QStringLiteral("code %1, 0x%2, %3")
            .arg(low)
            .arg(QStringLiteral("%1").arg(low, 2, 16, QLatin1Char('0')).toUpper())
            .arg(low, 8, 2, QLatin1Char('0')));
}

void frmMain::UpdateLED(const QString& Code) {
    SetLampRow(LED, Code);
}

void frmMain::UpdateTLED(const QString& Code) {
    SetLampRow(TLED, Code);
}

void frmMain::StartTimer() {
    StartTime = m_now();
    Timer1->start();
}

void frmMain::StopTimer() {
    Timer1->stop();
    SetPanelText(QStringLiteral("Timer"), QStringLiteral("Timer:"));
}

void frmMain::Timer1_Timer() {
    SetPanelText(QStringLiteral("Timer"),
                 QStringLiteral("Timer:") + ElapsedText(StartTime.msecsTo(m_now())));
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Only the status bar follows the window: bottom edge, full width.
    const int h = Twips::toPixels(270, Twips::dpi(this));
    sbStatusBar->setGeometry(0, height() - h, width(), h);
}
