// Renders the control panel as a user sees it, for a look at every state after a change:
// the panel over an image, a hovered button, the hovered drag handle, and each popover.
// Run through tools/render-control-panel.sh, which starts a virtual X server.
#include "editor/ControlPanel.h"
#include "editor/LayerView.h"
#include "editor/Popover.h"
#include "editor/ToolbarButton.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEnterEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QWidget>

namespace {

// A stand-in for a screenshot: bright and busy, so the panel's translucency shows.
class SampleImage : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QLinearGradient sky(0, 0, width(), height());
        sky.setColorAt(0, QColor(120, 180, 240));
        sky.setColorAt(1, QColor(250, 220, 160));
        painter.fillRect(rect(), sky);
        painter.setPen(QPen(QColor(40, 40, 40), 2));
        for (int x = 0; x < width(); x += 40)
            painter.drawLine(x, 0, x + 80, height());
        painter.setFont(QFont(QString(), 28, QFont::Bold));
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Screenshot"));
    }
};

void settle(int milliseconds = 350) {
    QTest::qWait(milliseconds);
}

void save(const QPixmap& picture, const QString& folder, const QString& name) {
    const QString path = QDir(folder).filePath(name);
    if (!picture.save(path))
        qFatal("Could not write %s", qPrintable(path));
}

QPixmap screenArea(const QRect& area) {
    return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(),
                                                        area.height());
}

void hover(QWidget* widget, bool entering) {
    if (entering) {
        QEnterEvent enter(QPointF(5, 5), widget->mapTo(widget->window(), QPointF(5, 5)),
                          widget->mapToGlobal(QPointF(5, 5)));
        QApplication::sendEvent(widget, &enter);
    } else {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(widget, &leave);
    }
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    const QString suffix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();

    SampleImage host;
    host.setWindowFlag(Qt::FramelessWindowHint);
    host.setGeometry(40, 40, 560, 560);
    ControlPanel panel(QRect(0, 0, 160, 36), &host);
    panel.move((host.width() - panel.width()) / 2, 35);
    host.show();
    if (!QTest::qWaitForWindowExposed(&host))
        qFatal("The window never showed");
    panel.animateAppearance();
    settle();

    const QRect around = panel.geometry().adjusted(-30, -25, 30, 25);
    save(host.grab(around), folder, QStringLiteral("panel%1.png").arg(suffix));

    hover(panel.copyButton, true);
    settle();
    save(host.grab(around), folder, QStringLiteral("panel-hover-copy%1.png").arg(suffix));
    hover(panel.copyButton, false);
    hover(panel.dragHandle, true);
    settle();
    save(host.grab(around), folder, QStringLiteral("panel-hover-handle%1.png").arg(suffix));
    hover(panel.dragHandle, false);
    panel.copyClicked(panel.copyButton);
    settle();
    save(host.grab(around), folder, QStringLiteral("panel-copied%1.png").arg(suffix));

    const QRect window(host.mapToGlobal(QPoint(0, 0)), host.size());
    panel.showPromptPopover();
    settle();
    QTest::keyClicks(panel.promptPopover->focusWidget(), QStringLiteral("make it pop"));
    settle(100);
    save(screenArea(window), folder, QStringLiteral("prompt-popover%1.png").arg(suffix));
    panel.promptThemeSelector->showPopup();
    settle();
    save(screenArea(window), folder, QStringLiteral("prompt-popover-themes%1.png").arg(suffix));
    panel.promptThemeSelector->hidePopup();
    settle(100);
    panel.promptCancelButtonClicked();
    settle();

    panel.showBgSettingsPopover();
    settle();
    save(screenArea(window), folder, QStringLiteral("background-popover%1.png").arg(suffix));
    panel.cancelBgSettings();
    settle();
    return 0;
}
