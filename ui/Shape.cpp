#include "ui/Shape.h"

#include <QAccessible>
#include <QPainter>

Shape::Shape(QWidget* parent) : QWidget(parent) {}

void Shape::setFillColor(const QColor& color) {
    if (color == m_fill) return;
    m_fill = color;
    update();
    if (!m_words.isEmpty()) {
        QAccessibleEvent changed(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&changed);
    }
}

void Shape::setStateWords(QList<StateWord> words) {
    m_words = std::move(words);
}

QString Shape::stateWord() const {
    for (const StateWord& s : m_words)
        if (s.fill == m_fill) return s.word;
    return QString();
}

void Shape::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int d = qMin(width(), height()) - 1;
    const QRectF circle((width() - d) / 2.0, (height() - d) / 2.0, d, d);
    p.setPen(QPen(QColor(64, 64, 64), 1));
    p.setBrush(m_fill);
    p.drawEllipse(circle.adjusted(0.5, 0.5, -0.5, -0.5));
}
