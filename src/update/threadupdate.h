#pragma once
// The background thread of the update check. It shares only its mode with the main thread (and the
// notice window, which it never touches itself: it asks the main thread to show the window and the
// messages and waits to hear that the window was closed). Stop() makes every wait end within a
// fraction of a second, network waits included.

#include "update/reachability.h"
#include "update/versionscan.h"

#include <QByteArray>
#include <QSemaphore>
#include <QString>
#include <QThread>

#include <atomic>

class QNetworkAccessManager;
class TUpdate;

// What the thread is to do next.
enum class TUpdateMode { None, CheckVersion, DownloadUpdate };

// How the last step of the thread ended; Pending while a check runs.
enum class TUpdateOutcome {
    Pending,
    Unreachable, // no echo (or connection) from the server's host
    PageFailed, // the page could not be read, was empty or too large
    NameMissing, // the program's name is not on the page
    NotANumber, // the text after the name is no version
    UpToDate, // the published version is not newer
    Notified, // the notice window was shown
    Downloaded, // the installer is in place
    DownloadFailed, // the download failed; the program keeps running
    Aborted, // stopped from outside (the program is quitting)
};

struct TUpdateOptions {
    KestUpdate::TProbeOptions probe; // three tries of 5000 ms
    int stallTimeoutMs = 30000; // a transfer without data for this long fails
    qint64 maxPageBytes = 2 * 1024 * 1024; // a larger page is a failed check
    qint64 maxDownloadBytes = qint64(1) * 1024 * 1024 * 1024; // never fill the disk
    QByteArray userAgent = QByteArrayLiteral("KestManager/1.18 (update check)");
    QString appDataFolder; // empty: the user's application-data folder
};

class TThreadUpdate : public QThread {
public:
    // Called on the main thread; the thread starts in mode None.
    TThreadUpdate(TUpdate *form, const QString &name, const QString &version, const QString &pageUrl,
        const QString &installerUrl, const QString &appData, const TUpdateOptions &options);
    // Stops the thread and waits for it.
    ~TThreadUpdate() override;

    // Main thread side.
    void SetMode(TUpdateMode mode);
    TUpdateMode Mode() const { return UpdateMode.load(); }
    void NoticeClosed();
    // Asks the thread to end as soon as it can; wait() then returns promptly.
    void Stop();
    TUpdateOutcome Outcome() const { return outcome_.load(); }

    // Set before the thread starts, then used by the thread only.
    QString updateUrl;
    TUpdate *const updateForm;
    const QString ProgName;
    const QString currentVersion;
    const QString versionUrl;
    const QString downloadUrl;
    const QString pathAppData;
    // The version text found on the page; read it once Outcome() is no longer Pending.
    QString Version;

protected:
    void run() override;

private:
    void CheckVersion(QNetworkAccessManager &manager);
    void DownloadUpdate(QNetworkAccessManager &manager);
    bool Stopping() const { return stop_.load(); }
    void Finish(TUpdateOutcome outcome);

    const TUpdateOptions options_;
    std::atomic<TUpdateMode> UpdateMode{TUpdateMode::None};
    std::atomic<bool> stop_{false};
    std::atomic<bool> noticeClosed_{false};
    std::atomic<TUpdateOutcome> outcome_{TUpdateOutcome::Pending};
    QSemaphore wake_; // released on every change the thread may be waiting for
};
