// Start-up, shutdown and the placement the window keeps between runs.
#include "app/Module1.h"
#include "app/Placement.h"
#include "serial/Line.h"
#include "serial/MSComm.h"
#include "ui/AppInfo.h"
#include "ui/ErrorReport.h"
#include "ui/Shape.h"
#include "ui/StatusBar.h"
#include "ui/Twips.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPushButton>
#include <QSettings>

#include <cmath>
#include <cstdlib>

namespace {
QSettings settingsStore() {
    return QSettings(QString::fromLatin1(kAppTitle), QString::fromLatin1(kAppTitle));
}

QString settingsKey(const char* name) {
    return QString::fromLatin1(Placement::kSection) + u'/' + QString::fromLatin1(name);
}

// A stored value in pixels; the default when the key is absent, does not
// convert, or gives a value no window can take.
int readPixels(QSettings& store, const char* key, double defaultTwips, double dpi) {
    double twips = defaultTwips;
    const QVariant stored = store.value(settingsKey(key));
    if (stored.isValid()) {
        if (auto value = Placement::parseNumber(stored.toString())) {
            const double px = double(*value) * dpi / Twips::kPerInch;
            if (std::fabs(px) <= 32767.0) twips = double(*value);
        }
    }
    return Twips::toPixels(twips, dpi);
}
}  // namespace

void frmMain::Form_Load() {
    ApplyResourceStrings(*this);
    restorePlacement();
    setPanelText(StatusPanel::Status, QStringLiteral("Status:Disconnect"));
    setPanelText(StatusPanel::Settings, QStringLiteral("Settings: ") + MSComm1->Settings());
    Transmition->setEnabled(false);
    Receive->setEnabled(false);
    StopTimer();
    MSComm1->setInputLen(1);
    MSComm1->setInputMode(MSComm::comInputModeText);
    ConnectState->setFillColor(Lamp::kBlack);
    UpdateLED(QString());
    UpdateTLED(QString());
}

void frmMain::restorePlacement() {
    QSettings store = settingsStore();
    const double dpi = Twips::dpi(this);
    // Each value is applied before the next is read; left and top place the
    // outer frame, width and height are its outer size.
    m_wantedOuter.moveLeft(readPixels(store, Placement::kLeftKey, 1000, dpi));
    move(m_wantedOuter.left(), y());
    m_wantedOuter.moveTop(readPixels(store, Placement::kTopKey, 1000, dpi));
    move(m_wantedOuter.topLeft());
    m_wantedOuter.setWidth(readPixels(store, Placement::kWidthKey, 6500, dpi));
    m_wantedOuter.setHeight(readPixels(store, Placement::kHeightKey, 6500, dpi));
    m_outerFitted = false;
    fitOuterSize();
}

// The frame's margins are known only once a window manager has framed the
// window; until then the outer size is taken as the client size.
void frmMain::fitOuterSize() {
    const QMargins frame(geometry().left() - frameGeometry().left(),
                         geometry().top() - frameGeometry().top(),
                         frameGeometry().right() - geometry().right(),
                         frameGeometry().bottom() - geometry().bottom());
    resize(qMax(1, m_wantedOuter.width() - frame.left() - frame.right()),
           qMax(1, m_wantedOuter.height() - frame.top() - frame.bottom()));
    if (!frame.isNull()) m_outerFitted = true;
}

bool frmMain::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    if (!m_outerFitted && isVisible() && !m_wantedOuter.isNull() &&
        (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
         event->type() == QEvent::Show) &&
        frameGeometry() != geometry())
        fitOuterSize();
    return handled;
}

void frmMain::savePlacement() {
    QSettings store = settingsStore();
    const double dpi = Twips::dpi(this);
    const QRect outer = frameGeometry();
    store.setValue(settingsKey(Placement::kLeftKey),
                   Placement::formatNumber(Twips::fromPixels(outer.x(), dpi)));
    store.setValue(settingsKey(Placement::kTopKey),
                   Placement::formatNumber(Twips::fromPixels(outer.y(), dpi)));
    store.setValue(settingsKey(Placement::kWidthKey),
                   Placement::formatNumber(Twips::fromPixels(outer.width(), dpi)));
    store.setValue(settingsKey(Placement::kHeightKey),
                   Placement::formatNumber(Twips::fromPixels(outer.height(), dpi)));
    store.sync();
    // A format error found while reading the old file does not mean the write failed.
    if (store.status() == QSettings::AccessError)
        ErrorReport::show(this, 75,
                          QStringLiteral("Path/File access error: the window placement "
                                         "could not be saved to ") +
                              store.fileName());
}

void frmMain::Form_Unload(qint16& Cancel) {
    Q_UNUSED(Cancel);
    // Unload any other window of the program, most recently opened first.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (qsizetype i = windows.size() - 1; i >= 0; --i)
        if (windows[i] != this && windows[i]->isVisible()) windows[i]->close();
    if (!isMinimized()) savePlacement();
}

void frmMain::closeEvent(QCloseEvent* event) {
    qint16 cancel = 0;
    Form_Unload(cancel);
    if (cancel)
        event->ignore();
    else
        event->accept();
}

void frmMain::Exit_Click() {
    // Ends at once: no close event, nothing written. The line goes with the
    // process, released as other programs expect (flag, flock, lock file).
    Line::releaseAll();
    std::_Exit(0);
}
