#include "ui/ProgressBar.h"

#include <cmath>
#include <stdexcept>

ProgressBar::ProgressBar(QWidget* parent) : QProgressBar(parent) {
    setRange(0, 1000);
    QProgressBar::setValue(0);
    setTextVisible(false);  // repainting the percentage text slows a busy wait
}

void ProgressBar::setFraction(float value) {
    if (!(value >= 0.0f && value <= 100.0f))
        throw std::out_of_range("progress bar value outside 0 to 100");
    m_value = value;
    // QProgressBar repaints at once whenever the filled part grows; a wait
    // that sets the bar a thousand times in a row only needs the last one
    // drawn, so the repaint is left to the event loop.
    const bool wasEnabled = updatesEnabled();
    setUpdatesEnabled(false);
    QProgressBar::setValue(int(std::lround(double(value) * 10.0)));
    setUpdatesEnabled(wasEnabled);
    update();
}
