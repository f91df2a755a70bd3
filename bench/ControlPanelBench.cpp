// One full repaint of the control panel with its prompt popover open, at device pixel ratio
// 2: what every frame of a hover animation costs. Target: at most 2 ms.
#include "editor/ControlPanel.h"
#include "editor/Popover.h"

#include <QImage>
#include <QPainter>
#include <QWidget>

#include <benchmark/benchmark.h>

namespace {

void BM_ControlPanelRepaintWithPopover(benchmark::State& state) {
    QWidget view;
    view.resize(600, 400);
    ControlPanel panel(QRect(0, 0, 160, 36), &view);
    panel.move(160, 35);
    view.show();
    panel.showPromptPopover();
    Popover& popover = *panel.promptPopover;
    QImage viewImage(view.size() * 2, QImage::Format_ARGB32_Premultiplied);
    viewImage.setDevicePixelRatio(2);
    QImage popoverImage(popover.size() * 2, QImage::Format_ARGB32_Premultiplied);
    popoverImage.setDevicePixelRatio(2);
    for (auto _ : state) {
        // The panel with its shadow over the view, then the popover's window.
        const QRect area = panel.geometry().adjusted(-20, -20, 20, 20);
        view.render(&viewImage, area.topLeft(), QRegion(area));
        popover.render(&popoverImage);
        benchmark::DoNotOptimize(viewImage.constBits());
        benchmark::DoNotOptimize(popoverImage.constBits());
    }
    panel.promptCancelButtonClicked();
}
BENCHMARK(BM_ControlPanelRepaintWithPopover)->Unit(benchmark::kMicrosecond);

} // namespace
