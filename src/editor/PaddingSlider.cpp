#include "editor/PaddingSlider.h"

#include <QSignalBlocker>

#include <cmath>

PaddingSlider::PaddingSlider(QWidget* parent)
    : QSlider(Qt::Horizontal, parent) {
    setRange(0, 100 * stepsPerPoint);
    setSingleStep(stepsPerPoint);
    setPageStep(10 * stepsPerPoint);
    connect(this, &QSlider::valueChanged, this,
            [this](int steps) { emit doubleValueChanged(double(steps) / stepsPerPoint); });
}

double PaddingSlider::doubleValue() const {
    return double(value()) / stepsPerPoint;
}

void PaddingSlider::setDoubleValue(double points) {
    const QSignalBlocker quiet(this);
    setValue(static_cast<int>(std::lround(points * stepsPerPoint)));
}
