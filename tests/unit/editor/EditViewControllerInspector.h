#pragma once

#include "editor/ControlPanel.h"
#include "editor/EditViewController.h"
#include "editor/ImageView.h"
#include "editor/LoadingSpinner.h"
#include "editor/VisualEffectView.h"
#include "platform/UserDefaults.h"

#include "TemporarySettings.h"

#include <QAbstractAnimation>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// Reads the controller's private state for tests, the way a debugger would.
struct EditViewControllerInspector {
    static std::vector<QImage> history(const EditViewController& c) {
        std::vector<QImage> images;
        for (const HistoryImage& entry : c.imageHistory)
            images.push_back(entry.image());
        return images;
    }
    static const std::vector<HistoryImage>& storedHistory(const EditViewController& c) {
        return c.imageHistory;
    }
    static int index(const EditViewController& c) { return c.currentHistoryIndex; }
    static QImage shown(const EditViewController& c) { return c.imageView->image(); }
    static const QImage& originalImage(const EditViewController& c) { return c.originalImage; }
    static bool hasBackgroundColor(const EditViewController& c) { return c.hasBackgroundColor; }
    static qreal currentPadding(const EditViewController& c) { return c.currentPadding; }
    static ControlPanel* panel(const EditViewController& c) { return c.controlPanel; }
    static VisualEffectView* overlay(const EditViewController& c) { return c.loadingBackground; }
    static VisualEffectView* backdrop(const EditViewController& c) { return c.backdrop; }
    static ImageView* imageView(const EditViewController& c) { return c.imageView; }
    static QWidget* spinner(const EditViewController& c) { return c.loadingSpinner; }
    static QAbstractAnimation* loadingFade(const EditViewController& c) { return c.loadingFade; }
    static void showLoading(EditViewController& c) { c.showLoading(); }
    static void hideLoading(EditViewController& c) { c.hideLoading(); }
    static bool editStarted(const EditViewController& c) { return c.editStartTime.has_value(); }
    // Lets a step's unpack finish and its result reach the GUI thread.
    static void finishPendingWork(EditViewController& c) {
        c.historyWorker.waitForDone();
        QCoreApplication::processEvents();
    }
    static void addToHistory(EditViewController& c, const QImage& image) {
        c.addToHistory(image);
        c.showImage(image);
    }
};

namespace editor_test {

// A solid image whose colour tells entries apart.
inline QImage solidImage(int width, int height, QColor color) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

inline QColor entryColor(int n) {
    return QColor::fromRgb(n * 11 % 256, 255 - n * 7 % 256, 40);
}

inline std::shared_ptr<EditViewController> makeController(const QImage& screenshot) {
    auto controller = std::make_shared<EditViewController>(
        screenshot, QRectF(QPointF(), screenshot.deviceIndependentSize()), 60);
    controller->view();
    return controller;
}

// The alerts currently shown, as (title, informative text) pairs; closes them.
inline std::vector<std::pair<QString, QString>> takeAlerts() {
    std::vector<std::pair<QString, QString>> alerts;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (!box || !box->isVisible())
            continue;
        alerts.emplace_back(box->text(), box->informativeText());
        box->close();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return alerts;
}

} // namespace editor_test
