// The edit action: from the prompt to a new image through the edit service.
#include "editor/EditViewController.h"

#include "editor/ImageView.h"
#include "platform/BackgroundWork.h"
#include "platform/MainQueue.h"
#include "platform/PngDecoder.h"
#include "platform/ShortenedText.h"
#include "sdk/PostHogSDK.h"
#include "service/PixaloomError.h"
#include "service/PixaloomService.h"

#include <coroutine>

namespace {

PixaloomService* serviceOverride = nullptr;

PixaloomService& editService() {
    return serviceOverride ? *serviceOverride : PixaloomService::shared();
}

// Suspends the coroutine and resumes it as a job of its own on the GUI thread's queue.
struct NextMainQueueTurn {
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) const {
        MainQueue::async([handle] { handle.resume(); });
    }
    void await_resume() const noexcept {}
};

QString themeProperty(const std::optional<QString>& theme) {
    return theme.value_or(QStringLiteral("none"));
}

// The alert's text with as much of the message as it shows: the message may be a whole reply
// body of hundreds of megabytes, which no one reads in an alert.
QString withMessage(const QString& lead, const PixaloomError& error) {
    const qsizetype limit = EditViewController::maxAlertTextLength;
    return ShortenedText::of(lead + error.shortenedMessage(limit), limit);
}

QString alertText(const PixaloomError& error) {
    switch (error.errorCase()) {
    case PixaloomError::Case::networkError:
        return QStringLiteral("Network error occurred");
    case PixaloomError::Case::invalidResponse:
        return withMessage(QStringLiteral("Invalid response: "), error);
    case PixaloomError::Case::apiError:
        return withMessage(QStringLiteral("API error: "), error);
    case PixaloomError::Case::invalidImage:
        return QStringLiteral("The image could not be processed");
    case PixaloomError::Case::noImageInResponse:
        return QStringLiteral("No image was returned in the response");
    }
    return {};
}

const QString imageProcessingFailure = QStringLiteral("Failed to process the edited image.");

} // namespace

void EditViewController::useServiceForTesting(PixaloomService* service) {
    serviceOverride = service;
}

double EditViewController::editDurationMs() const {
    if (!editStartTime)
        return 0;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - *editStartTime;
    return elapsed.count() * 1000;
}

void EditViewController::controlPanelDidClickEditWithPromptThemeImprovePrompt(
    ControlPanel*, const QString& prompt, const std::optional<QString>& theme, bool improvePrompt) {
    if (prompt.isEmpty() && !theme) {
        presentAlert(QStringLiteral("No Edit Parameters"),
                     QStringLiteral("Please enter a prompt or select a theme to edit the image."));
        return;
    }
    showPendingStepNow();
    editStartTime = std::chrono::steady_clock::now();
    QImage source;
    if (hasBackgroundColor && !originalImage.isNull()) {
        source = originalImage;
    } else {
        if (!imageView || imageView->image().isNull()) {
            logger.error("No image available to edit");
            return;
        }
        source = imageView->image();
        if (originalImage.isNull())
            originalImage = source;
    }
    const QSizeF points = source.deviceIndependentSize();
    PostHogSDK::shared().capture(QStringLiteral("edit_started"),
                                 {{QStringLiteral("prompt"), prompt},
                                  {QStringLiteral("theme"), themeProperty(theme)},
                                  {QStringLiteral("improve_prompt"), improvePrompt},
                                  {QStringLiteral("image_width"), points.width()},
                                  {QStringLiteral("image_height"), points.height()}});
    editInFlight = true;
    showLoading();
    // Fire and forget: the task owns its frame and a strong reference to this controller,
    // and ends by itself once the result step has run.
    runEdit(shared_from_this(), EditRequest{prompt, theme, improvePrompt, source});
}

QCoro::Task<> EditViewController::runEdit(std::shared_ptr<EditViewController> self,
                                          EditRequest request) {
    if (request.prompt.isEmpty() && request.theme)
        self->logger.info("Applying theme: %s", *request.theme);
    else
        self->logger.info("Sending edit request with prompt: %s, theme: %s, improve prompt: "
                          "%{bool}d",
                          request.prompt, request.theme.value_or(QStringLiteral("None")),
                          request.improvePrompt);

    std::optional<QByteArray> bytes;
    std::optional<PixaloomError> error;
    try {
        bytes = co_await editService().generateImage(request.prompt, request.sourceImage,
                                                     request.theme, request.improvePrompt);
    } catch (const PixaloomError& thrown) {
        error = thrown;
    }

    const QString theme = themeProperty(request.theme);
    if (bytes) {
        PostHogSDK::shared().capture(
            QStringLiteral("edit_success"),
            {{QStringLiteral("prompt"), request.prompt},
             {QStringLiteral("theme"), theme},
             {QStringLiteral("improve_prompt"), request.improvePrompt},
             {QStringLiteral("duration_ms"), self->editDurationMs()},
             {QStringLiteral("image_size"), static_cast<long long>(bytes->size())}});
    } else if (error) {
        PostHogSDK::shared().capture(
            QStringLiteral("edit_error"),
            {{QStringLiteral("error"), error->localizedDescription()},
             {QStringLiteral("error_type"), QStringLiteral("PixaloomError")},
             {QStringLiteral("prompt"), request.prompt},
             {QStringLiteral("theme"), theme},
             {QStringLiteral("improve_prompt"), request.improvePrompt},
             {QStringLiteral("duration_ms"), self->editDurationMs()}});
    }

    // Decoding and reducing a 4K image takes a good part of a second: a worker thread does it
    // while the overlay keeps turning, and the result step, still a job of its own on the GUI
    // thread, only shows what it made.
    DecodedResult decoded;
    if (bytes) {
        ResultLayout layout;
        layout.room = self->screenRoom();
        if (self->imageView) {
            layout.viewSize = self->imageView->size();
            layout.viewRatio = self->imageView->devicePixelRatioF();
        }
        // A named awaiter: g++ 12 destroys temporaries of a co_await expression twice.
        auto decoding = BackgroundWork::result(
            &self->resultWorker, [&bytes, layout] { return decodeResult(*bytes, layout); });
        decoded = co_await decoding;
    }
    co_await NextMainQueueTurn{};
    self->handleEditResult(request, bytes, decoded, error);
}

EditViewController::DecodedResult EditViewController::decodeResult(const QByteArray& bytes,
                                                                   const ResultLayout& layout) {
    DecodedResult decoded;
    decoded.image = PngDecoder::decode(bytes);
    if (decoded.image.isNull() || !layout.room)
        return decoded;
    decoded.fittedToScreen = scaledToPoints(
        decoded.image, sizeToFit(decoded.image.deviceIndependentSize(), *layout.room));
    decoded.fittedForView =
        ImageView::scaledForView(decoded.fittedToScreen, layout.viewSize, layout.viewRatio);
    return decoded;
}

void EditViewController::handleEditResult(const EditRequest& request,
                                          const std::optional<QByteArray>& bytes,
                                          const DecodedResult& decoded,
                                          const std::optional<PixaloomError>& error) {
    editInFlight = false;
    hideLoading();
    const QString theme = themeProperty(request.theme);
    if (bytes) {
        if (const QImage& edited = decoded.image; !edited.isNull()) {
            originalImage = edited;
            const QImage shown = hasBackgroundColor && currentBackgroundColor
                                     ? applyBackgroundColorWithSeparatePadding(
                                           edited, *currentBackgroundColor,
                                           currentHorizontalPadding, currentVerticalPadding)
                                     : fittedToScreen(edited, decoded.fittedToScreen);
            // The view checks the prepared copy's size and scales afresh if it no longer fits.
            showImage(shown, shown.cacheKey() == decoded.fittedToScreen.cacheKey()
                                 ? decoded.fittedForView
                                 : QImage());
            addToHistory(shown);
            autoCopyImageIfEnabled();
            logger.info("Successfully updated image with edited version");
            return;
        }
    }
    if (!error) {
        logger.error("Failed to create image from data, but no specific error was caught.");
        showError(imageProcessingFailure);
        PostHogSDK::shared().capture(
            QStringLiteral("edit_error"),
            {{QStringLiteral("error"), imageProcessingFailure},
             {QStringLiteral("error_type"), QStringLiteral("UnknownError")},
             {QStringLiteral("prompt"), request.prompt},
             {QStringLiteral("theme"), theme},
             {QStringLiteral("improve_prompt"), request.improvePrompt},
             {QStringLiteral("duration_ms"), editDurationMs()}});
        return;
    }
    const QString text = alertText(*error);
    showError(text);
    PostHogSDK::shared().capture(QStringLiteral("edit_error"),
                                 {{QStringLiteral("error"), text},
                                  {QStringLiteral("error_type"), QStringLiteral("PixaloomError")},
                                  {QStringLiteral("error_case"), error->shortTextForm()},
                                  {QStringLiteral("prompt"), request.prompt},
                                  {QStringLiteral("theme"), theme},
                                  {QStringLiteral("improve_prompt"), request.improvePrompt},
                                  {QStringLiteral("duration_ms"), editDurationMs()}});
}

void EditViewController::controlPanelDidChangeTheme(ControlPanel*,
                                                    const std::optional<QString>& theme) {
    logger.info("Theme changed to: %s", theme.value_or(QStringLiteral("None")));
}
