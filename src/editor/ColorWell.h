#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPointer>

#include <QColorDialog>

// A colour swatch that opens a non-modal colour dialog. Every colour the user picks in the
// dialog is one colorChanged; setting the colour from code reports nothing.
class ColorWell : public QAbstractButton {
    Q_OBJECT
public:
    explicit ColorWell(QWidget* parent = nullptr);

    QColor color() const { return current; }
    void setColor(const QColor& color);
    // The open dialog, if any (tests pick colours through it as a user does).
    QColorDialog* dialog() const { return picker; }

    QColor borderColor = QColor(64, 64, 64);
    // The widget that owns the dialog once it opens.
    QPointer<QWidget> dialogOwner;

signals:
    void colorChanged(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void openDialog();
    void userPicked(const QColor& color);

    QColor current = Qt::white;
    QPointer<QColorDialog> picker;
};
