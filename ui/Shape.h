#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QWidget>

// The lamp colours: a lit bit red, a dark one black; the connection lamp
// black, green or red.
namespace Lamp {
inline const QColor kBlack(0, 0, 0);
inline const QColor kRed(255, 0, 0);
inline const QColor kGreen(0, 255, 0);
}  // namespace Lamp

// A circle shape: diameter min(width, height), centred, solid fill, thin outline.
class Shape : public QWidget {
    Q_OBJECT
public:
    // The word that says what a fill colour means, for readers who cannot
    // see the colour.
    struct StateWord {
        QColor fill;
        QString word;
    };

    explicit Shape(QWidget* parent = nullptr);
    QColor fillColor() const { return m_fill; }
    void setFillColor(const QColor& color);

    void setStateWords(QList<StateWord> words);
    // The word of the current fill colour; empty for a colour without one.
    QString stateWord() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_fill = Qt::black;
    QList<StateWord> m_words;
};
