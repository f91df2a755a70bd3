#pragma once

#include <QColor>
#include <QComboBox>

// The theme pop-up: a flat, style-sheet drawn combo box that still shows its chevron (a
// style sheet that flattens the drop-down area also drops the platform's arrow).
class ThemePopUpButton : public QComboBox {
    Q_OBJECT
public:
    explicit ThemePopUpButton(QWidget* parent = nullptr);

    QColor chevronColor = Qt::white;

protected:
    void paintEvent(QPaintEvent* event) override;
};
