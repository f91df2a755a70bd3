#include "sdk/UpdateDialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

UpdateDialogs::UpdateDialogs(QString applicationName)
    : applicationName(std::move(applicationName)) {
}

UpdateDialogs::~UpdateDialogs() {
    cancel = nullptr;
    // Windows can only be deleted while the widget application is whole; past that (at
    // process exit) they are left to the end of the process.
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        delete progress;
        delete result;
    }
}

void UpdateDialogs::showUserInitiatedUpdateCheck(std::function<void()> cancelCheck) {
    cancel = std::move(cancelCheck);
    if (!progress) {
        progress = new QDialog;
        progress->setAttribute(Qt::WA_DeleteOnClose);
        progress->setWindowTitle(windowTitle);
        auto* layout = new QVBoxLayout(progress);
        layout->addWidget(new QLabel(QStringLiteral("Checking for updates…"), progress));
        auto* bar = new QProgressBar(progress);
        bar->setRange(0, 0);
        bar->setTextVisible(false);
        layout->addWidget(bar);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, progress);
        layout->addWidget(buttons);
        QObject::connect(buttons, &QDialogButtonBox::rejected, progress, &QDialog::reject);
        // Cancel, Escape and the window's close button all end the check.
        QObject::connect(progress, &QDialog::rejected, progress, [this] {
            if (auto stop = std::exchange(cancel, nullptr))
                stop();
        });
    }
    progress->show();
    progress->raise();
    progress->activateWindow();
}

void UpdateDialogs::dismissUserInitiatedUpdateCheck() {
    cancel = nullptr;
    if (progress)
        progress->close();
}

void UpdateDialogs::showUpdateFound(const AppcastItem& item, const QString& currentVersion,
                                    std::function<void()> skip) {
    QMessageBox* box =
        makeResult(QStringLiteral("A new version of %1 is available").arg(applicationName),
                   QStringLiteral("%1 %2 is available; you have %3. Install it with your "
                                  "system's package manager.")
                       .arg(applicationName, item.displayVersionString, currentVersion));
    // The feed's links are web links only (the feed reader drops every other scheme).
    const auto offer = [box](const QString& title, const QUrl& url) {
        if (url.isEmpty())
            return;
        QPushButton* button = box->addButton(title, QMessageBox::ActionRole);
        QObject::connect(button, &QPushButton::clicked, box,
                         [url] { QDesktopServices::openUrl(url); });
    };
    offer(QStringLiteral("Release Notes"), item.releaseNotesURL);
    offer(QStringLiteral("Download Page"), item.downloadPageURL());
    QPushButton* skipButton =
        box->addButton(QStringLiteral("Skip This Version"), QMessageBox::DestructiveRole);
    QObject::connect(skipButton, &QPushButton::clicked, box, std::move(skip));
    // Nothing to remember: the next automatic check offers the update again.
    box->addButton(QStringLiteral("Remind Me Later"), QMessageBox::RejectRole);
    show(box);
}

void UpdateDialogs::showUpdateNotFound(const QString& currentVersion) {
    QMessageBox* box = makeResult(QStringLiteral("You're up to date"),
                                  QStringLiteral("%1 %2 is the newest version available.")
                                      .arg(applicationName, currentVersion));
    box->addButton(QMessageBox::Ok);
    show(box);
}

void UpdateDialogs::showUpdaterError(const QString& reason) {
    showFailure(
        QStringLiteral("The update information could not be read: %1. Please try again later.")
            .arg(reason));
}

void UpdateDialogs::showNoUpdateFeed() {
    showFailure(QStringLiteral("This build of %1 has no update feed.").arg(applicationName));
}

void UpdateDialogs::showFailure(const QString& informativeText) {
    QMessageBox* box = makeResult(QStringLiteral("Could not check for updates"), informativeText);
    box->setIcon(QMessageBox::Warning);
    box->addButton(QMessageBox::Ok);
    show(box);
}

QMessageBox* UpdateDialogs::makeResult(const QString& text, const QString& informativeText) {
    if (result)
        result->close();
    auto* box = new QMessageBox;
    // A message box is application-modal unless told otherwise.
    box->setModal(false);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(windowTitle);
    box->setIcon(QMessageBox::Information);
    // Versions and reasons come from the network: shown as text, never as markup.
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    box->setInformativeText(informativeText);
    if (auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
    result = box;
    return box;
}

void UpdateDialogs::show(QMessageBox* box) {
    box->show();
    box->raise();
    box->activateWindow();
}
