#pragma once

#include <QProgressBar>

// A progress bar with a fractional value from 0 to 100. The value is kept as
// given; the bar underneath shows it in tenths, rounded to nearest.
class ProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);
    float fraction() const { return m_value; }
    // Not setValue: that would hide QProgressBar::setValue(int), which
    // counts tenths.
    void setFraction(float value);

private:
    float m_value = 0.0f;
};
