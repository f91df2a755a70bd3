#pragma once

#include "sdk/UpdateUserDriver.h"

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QString>

// Our own small update windows: the progress of a check the user asked for and its
// outcome. All are non-modal (a found update shows by itself, and the tray, the hot key and
// the editor keep working beside it), and at most one of each kind is open. Installing is the
// package manager's job, so a found update offers its release notes and download page in
// the browser, to skip this version, or to be reminded at a later check.
class UpdateDialogs : public UpdateUserDriver {
public:
    static inline const QString windowTitle = QStringLiteral("Software Update");

    explicit UpdateDialogs(QString applicationName);
    ~UpdateDialogs() override;
    UpdateDialogs(const UpdateDialogs&) = delete;
    UpdateDialogs& operator=(const UpdateDialogs&) = delete;

    void showUserInitiatedUpdateCheck(std::function<void()> cancel) override;
    void dismissUserInitiatedUpdateCheck() override;
    void showUpdateFound(const AppcastItem& item, const QString& currentVersion,
                         std::function<void()> skip) override;
    void showUpdateNotFound(const QString& currentVersion) override;
    void showUpdaterError(const QString& reason) override;
    void showNoUpdateFeed() override;

    QDialog* progressDialog() const { return progress; }
    QMessageBox* resultDialog() const { return result; }

private:
    void showFailure(const QString& informativeText);
    QMessageBox* makeResult(const QString& text, const QString& informativeText);
    void show(QMessageBox* box);

    QString applicationName;
    QPointer<QDialog> progress;
    QPointer<QMessageBox> result;
    std::function<void()> cancel;
};
