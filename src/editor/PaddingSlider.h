#pragma once

#include <QSlider>

// A horizontal slider over 0..100 that keeps fractions (hundredths): every step of the
// handle is one doubleValueChanged.
class PaddingSlider : public QSlider {
    Q_OBJECT
public:
    explicit PaddingSlider(QWidget* parent = nullptr);

    double doubleValue() const;
    // Moves the handle without reporting.
    void setDoubleValue(double value);

    static constexpr int stepsPerPoint = 100;

signals:
    void doubleValueChanged(double value);
};
