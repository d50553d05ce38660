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

// "h:n:s" of an elapsed time; whole days are counted into the hours.
QString elapsedText(qint64 ms) {
    const qint64 seconds = qMax<qint64>(0, ms) / 1000;
    return QStringLiteral("%1:%2:%3").arg(seconds / 3600).arg(seconds / 60 % 60).arg(seconds % 60);
}
}  // namespace

void frmMain::ShowMessage(const QString& text) {
    MessageText->setText(text);
}

void frmMain::setPanelText(StatusPanel panel, const QString& text) {
    sbStatusBar->setPanelText(panelKey(panel), text);
}

QString frmMain::panelText(StatusPanel panel) const {
    return sbStatusBar->panelText(panelKey(panel));
}

QRgb frmMain::lampColor(const QString& lampName) const {
    auto* lamp = findChild<Shape*>(lampName);
    if (!lamp) throw std::invalid_argument("no lamp named " + lampName.toStdString());
    return lamp->fillColor().rgb() & 0xFFFFFF;
}

void frmMain::setLampRow(const std::array<Shape*, 8>& row, const QString& Code) {
    // Only the low byte of the code counts.
    const int v = CodePage::firstCharCode(Code);
    for (int k = 0; k < 8; ++k) row[k]->setFillColor((v >> k) & 1 ? Lamp::kRed : Lamp::kBlack);
    // The code as a reader without the colours gets it.
    const int low = v & 0xFF;
    row[0]->parentWidget()->setAccessibleDescription(
        QStringLiteral("code %1, 0x%2, %3")
            .arg(low)
            .arg(QStringLiteral("%1").arg(low, 2, 16, QLatin1Char('0')).toUpper())
            .arg(low, 8, 2, QLatin1Char('0')));
}

void frmMain::UpdateLED(const QString& Code) {
    setLampRow(LED, Code);
}

void frmMain::UpdateTLED(const QString& Code) {
    setLampRow(TLED, Code);
}

void frmMain::StartTimer() {
    StartTime = m_now();
    Timer1->start();
}

void frmMain::StopTimer() {
    Timer1->stop();
    setPanelText(StatusPanel::Timer, QStringLiteral("Timer:"));
}

void frmMain::Timer1_Timer() {
    setPanelText(StatusPanel::Timer,
                 QStringLiteral("Timer:") + elapsedText(StartTime.msecsTo(m_now())));
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Only the status bar follows the window: bottom edge, full width.
    const int h = Twips::toPixels(270, Twips::dpi(this));
    sbStatusBar->setGeometry(0, height() - h, width(), h);
}
