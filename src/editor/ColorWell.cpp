#include "editor/ColorWell.h"

#include <QColorDialog>
#include <QPainter>
#include <QSignalBlocker>

ColorWell::ColorWell(QWidget* parent)
    : QAbstractButton(parent) {
    setCursor(Qt::PointingHandCursor);
    connect(this, &QAbstractButton::clicked, this, &ColorWell::openDialog);
}

void ColorWell::setColor(const QColor& color) {
    current = color;
    if (picker) {
        const QSignalBlocker quiet(picker);
        picker->setCurrentColor(color);
    }
    update();
}

void ColorWell::openDialog() {
    if (!picker) {
        // Owned by dialogOwner, not by the popover: the dialog stays usable after the
        // transient popover closes. Qt's own dialog reports every change of colour.
        picker = new QColorDialog(current, dialogOwner ? dialogOwner.data() : this);
        picker->setOptions(QColorDialog::NoButtons | QColorDialog::DontUseNativeDialog);
        picker->setWindowTitle(tr("Colors"));
        connect(picker, &QColorDialog::currentColorChanged, this, &ColorWell::userPicked);
    } else {
        const QSignalBlocker quiet(picker);
        picker->setCurrentColor(current);
    }
    picker->show();
    picker->raise();
    picker->activateWindow();
}

void ColorWell::userPicked(const QColor& color) {
    current = color;
    update();
    emit colorChanged(color);
}

void ColorWell::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(borderColor, 1));
    painter.setBrush(QColor(45, 45, 45));
    painter.drawRoundedRect(frame, 6, 6);
    painter.setPen(QPen(QColor(0, 0, 0, 60), 1));
    painter.setBrush(current);
    painter.drawRoundedRect(frame.adjusted(4, 4, -4, -4), 3, 3);
}
