#include "ui/StatusBar.h"

#include <QHBoxLayout>
#include <QLabel>

#include <stdexcept>

QString panelKey(StatusPanel panel) {
    switch (panel) {
        case StatusPanel::Status:
            return QStringLiteral("Status");
        case StatusPanel::Settings:
            return QStringLiteral("Settings");
        case StatusPanel::Timer:
            break;
    }
    return QStringLiteral("Timer");
}

StatusBar::StatusBar(QWidget* parent) : QFrame(parent) {
    // Opaque: what lies under the bar in a short window must not show through.
    setAutoFillBackground(true);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 1, 0, 0);
    row->setSpacing(2);
    row->addStretch(1);
}

void StatusBar::addPanel(const QString& key, const QString& text, const QString& toolTip,
                         int widthPx) {
    auto* label = new QLabel(text, this);
    label->setObjectName(key);
    label->setTextFormat(Qt::PlainText);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setIndent(2);
    label->setToolTip(toolTip);
    label->setFixedWidth(widthPx);
    auto* row = static_cast<QHBoxLayout*>(layout());
    row->insertWidget(row->count() - 1, label);
    m_panels.append({key, label});
}

QLabel* StatusBar::panel(const QString& key) const {
    for (const Entry& p : m_panels)
        if (p.key == key) return p.label;
    throw std::invalid_argument("no status bar panel keyed " + key.toStdString());
}

void StatusBar::setPanelText(const QString& key, const QString& text) {
    panel(key)->setText(text);
}

QString StatusBar::panelText(const QString& key) const {
    return panel(key)->text();
}
