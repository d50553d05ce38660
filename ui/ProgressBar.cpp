#include "ui/ProgressBar.h"

#include <cmath>
#include <stdexcept>

ProgressBar::ProgressBar(QWidget* parent) : QProgressBar(parent) {
    setRange(0, 1000);
    QProgressBar::setValue(0);
    setTextVisible(false);  // repainting the percentage text slows a busy wait
}

void ProgressBar::setValue(float value) {
    if (!(value >= 0.0f && value <= 100.0f))
        throw std::out_of_range("progress bar value outside 0 to 100");
    m_value = value;
    QProgressBar::setValue(int(std::lround(double(value) * 10.0)));
}
