#pragma once

#include "editor/ControlPanelDelegate.h"
#include "editor/HistoryImage.h"
#include "editor/SharingServicePickerDelegate.h"
#include "platform/Logger.h"

#include <QColor>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QThreadPool>

#include <QCoro/QCoroTask>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <vector>

class ControlPanel;
class ImageView;
class LoadingSpinner;
class PixaloomError;
class PixaloomService;
class QAbstractAnimation;
class VisualEffectView;

// The whole state of editing one capture: the shown image, the floating control panel, the
// loading overlay, the undo/redo history and the background. It is the control panel's
// delegate. A running edit holds it through a shared pointer, so it outlives its window
// until the edit's result has been handled.
class EditViewController : public QObject,
                           public ControlPanelDelegate,
                           public SharingServicePickerDelegate,
                           public std::enable_shared_from_this<EditViewController> {
    Q_OBJECT
public:
    EditViewController(const QImage& screenshot, const QRectF& frame, qreal controlPanelHeight);
    ~EditViewController() override;

    // The root view, built with its whole tree on first use.
    QWidget* view();
    bool isViewLoaded() const { return rootView != nullptr; }
    // Gives up the root view's parent, so the view stays with this controller when the
    // window that showed it goes away first.
    void detachViewFromWindow();

    void showLoading();
    void hideLoading();
    QImage scaleImageToFitScreen(const QImage& image) const;
    // The size in points at which an image of `points` is shown: reduced to the main screen
    // less its margins and the panel's height, never enlarged. The window sizes itself by it.
    QSizeF sizeToFitScreen(QSizeF points) const;
    // The alert shows at most maxAlertTextLength characters of the message, cut with "…".
    void showError(const QString& message);
    static constexpr qsizetype maxAlertTextLength = 400;

    // Both false while an edit is in flight: its result lands after the entry that was shown
    // when it began.
    bool canUndo() const;
    bool canRedo() const;
    void performUndo();
    void performRedo();

    // ControlPanelDelegate
    void controlPanelDidClickUndo(ControlPanel* panel) override;
    void controlPanelDidClickRedo(ControlPanel* panel) override;
    void controlPanelDidChangeBackgroundColorPadding(ControlPanel* panel, const QColor& color,
                                                     qreal padding) override;
    void controlPanelDidChangeBackgroundColorHorizontalPaddingVerticalPadding(
        ControlPanel* panel, const QColor& color, qreal horizontalPadding,
        qreal verticalPadding) override;
    void controlPanelDidClickEditWithPromptThemeImprovePrompt(ControlPanel* panel,
                                                              const QString& prompt,
                                                              const std::optional<QString>& theme,
                                                              bool improvePrompt) override;
    void controlPanelDidClickCopy(ControlPanel* panel) override;
    void controlPanelDidClickShare(ControlPanel* panel) override;
    void controlPanelDidChangeTheme(ControlPanel* panel,
                                    const std::optional<QString>& theme) override;

    // SharingServicePickerDelegate
    std::vector<SharingService> sharingServicePickerSharingServicesForItemsProposedSharingServices(
        SharingServicePicker* picker, const QList<QImage>& items,
        std::vector<SharingService> proposedServices) override;
    void sharingServicePickerDidChooseSharingService(
        SharingServicePicker* picker, const std::optional<SharingService>& service) override;

    // Edits go to the shared service unless a test points them at its own.
    static void useServiceForTesting(PixaloomService* service);

private:
    struct EditRequest {
        QString prompt;
        std::optional<QString> theme;
        bool improvePrompt = false;
        QImage sourceImage;
    };

    void loadView();
    void viewDidLoad();
    void setupControlPanel();
    void setupLoadingOverlay();
    void layoutViews(QSize oldSize);
    bool eventFilter(QObject* watched, QEvent* event) override;
    void fadeLoadingOverlay(qreal toAlpha, std::function<void()> completion);
    void revealLoadingOverlay();

    void autoCopyImageIfEnabled();
    // What autoCopyImageIfEnabled() does, for a PNG still being made.
    void autoCopyPng(std::shared_future<QByteArray> png);
    static bool autoCopyEnabled();

    void addToHistory(const QImage& image);
    void replaceNewestHistoryImage(const QImage& image);
    // The entry at currentHistoryIndex keeps its pixels; the others are packed away.
    void keepOnlyShownEntryUnpacked();
    // Shows the entry at currentHistoryIndex: at once when its pixels are at hand, else once
    // the history's worker has unpacked it and scaled it for the view.
    void showHistoryEntry();
    // Whatever needs the shown image now (copy, share, edit, background) gets the entry a
    // step is still unpacking, unpacked here, not the image shown before the step.
    void showPendingStepNow();
    void updateUndoRedoButtonsState();
    void showImage(const QImage& image, const QImage& scaledForView = {});
    // The room the main screen leaves for a shown image, in points; none without a screen.
    std::optional<QSizeF> screenRoom() const;
    static QSizeF sizeToFit(QSizeF points, QSizeF room);
    // scaleImageToFitScreen(image), taken from `prepared` when that is already the result.
    QImage fittedToScreen(const QImage& image, const QImage& prepared) const;
    // The image drawn at `points` (device pixel ratio kept; straight alpha made premultiplied
    // by a reduction); the same image at its own size. Safe on any thread.
    static QImage scaledToPoints(const QImage& image, QSizeF points);

    QImage applyBackgroundColor(const QImage& image, const QColor& color, qreal padding) const;
    QImage applyBackgroundColorWithSeparatePadding(const QImage& image, const QColor& color,
                                                   qreal horizontalPadding,
                                                   qreal verticalPadding) const;
    void showComposite(const QColor& color, qreal horizontalPadding, qreal verticalPadding,
                       std::optional<quint64> drag = std::nullopt);

    static QCoro::Task<> runEdit(std::shared_ptr<EditViewController> self, EditRequest request);
    // An edit result as a worker thread prepared it: the image made of the returned bytes
    // (null when they make none) and that image already reduced to the screen.
    struct DecodedResult {
        QImage image;
        QImage fittedToScreen;
        QImage fittedForView; // fittedToScreen as the image view draws it
    };
    struct ResultLayout {
        std::optional<QSizeF> room; // the screen's room, as screenRoom() gives it
        QSizeF viewSize;            // the image view's size in points
        qreal viewRatio = 1;        // and its device pixel ratio
    };
    static DecodedResult decodeResult(const QByteArray& bytes, const ResultLayout& layout);
    void handleEditResult(const EditRequest& request, const std::optional<QByteArray>& bytes,
                          const DecodedResult& decoded, const std::optional<PixaloomError>& error);
    double editDurationMs() const;
    void presentAlert(const QString& messageText, const QString& informativeText);

    QPointer<ImageView> imageView;
    QPointer<ControlPanel> controlPanel;
    QPointer<VisualEffectView> loadingBackground;
    QPointer<LoadingSpinner> loadingSpinner;
    QImage screenshotImage;
    std::vector<HistoryImage> imageHistory;
    int currentHistoryIndex = -1;
    const int maxHistorySize = 20;
    const qreal borderRadius = 8;
    const qreal controlPadding = 16;
    const double buttonAnimationDuration = 0.2;
    const qreal maxWindowPadding = 40;
    const qreal controlPanelHeight;
    const QColor backgroundColor{17, 17, 17};
    const Logger logger{QStringLiteral("com.app.pixaloom"), QStringLiteral("EditViewController")};
    std::optional<std::chrono::steady_clock::time_point> editStartTime;
    // From an accepted edit until its result step: the history does not move meanwhile.
    bool editInFlight = false;
    QImage originalImage;
    bool hasBackgroundColor = false;
    std::optional<QColor> currentBackgroundColor;
    qreal currentPadding = 0;
    qreal currentHorizontalPadding = 0;
    qreal currentVerticalPadding = 0;
    // The slider drag whose composite is the newest history entry: the composites of one
    // drag share one entry, so a drag cannot push the capture out of the history.
    std::optional<quint64> recordedPaddingDrag;

    QPointer<QWidget> rootView;
    QPointer<VisualEffectView> backdrop;
    QPointer<QAbstractAnimation> loadingFade;

    // The step whose entry the history's worker is making ready, 0 for none; read by the
    // worker too, so a step overtaken by another before its turn is not unpacked at all
    // unless its auto-copy needs the pixels.
    // Any image shown meanwhile overtakes it as well.
    std::shared_ptr<std::atomic<quint64>> pendingStep = std::make_shared<std::atomic<quint64>>(0);
    quint64 stepsRequested = 0;
    // One thread: an unpack and a scaling spread over the global pool themselves. It waits
    // for a running unpack when the controller goes.
    QThreadPool historyWorker;
    // One thread for decoding an edit's result, whose reductions spread over the global pool.
    QThreadPool resultWorker;

    friend struct EditViewControllerInspector;
};
