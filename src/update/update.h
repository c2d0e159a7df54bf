#pragma once
// The notice window of the update check ("Оповещение": "Доступно обновление!") and the owner of the
// check thread. It lives as long as the main window; the thread it starts never outlives it.

#include "update/threadupdate.h"

#include <QDialog>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QPushButton;
class TConfigController;

class TUpdate : public QDialog {
    Q_OBJECT
public:
    // Builds the window without showing it.
    explicit TUpdate(QWidget *owner = nullptr);
    // Ends a running check and waits for its thread.
    ~TUpdate() override;

    void SetConfig(TConfigController *config);

    // Starts the check thread with these values in mode CheckVersion and clears `skipUpdate`.
    void CheckNewVersion(const QString &_name, const QString &_currentVersion, const QString &_versionUrl,
        const QString &_downloadUrl, QWidget *_masterForm);

    // The start-up call: when "UpdateTag" is set, checks for this program's newer version on the
    // maker's server, or on the server named by "UpdateServer". Returns whether a check started.
    bool CheckAtStartUp(QWidget *_masterForm);

    // Not `skipUpdate`: the value to store as "UpdateTag".
    bool GetFUpdate() const { return !skipUpdate; }

    // Ends the check at once and waits for its thread (also done when the application quits).
    void StopCheck();

    // Settings of the next check (time-outs, limits, where the download goes).
    void SetOptions(const TUpdateOptions &options) { options_ = options; }

    // What happens after a successful download: the file is opened with its default application
    // and the program ends at once with code 0. Tests replace both.
    using TOpenHandler = std::function<void(const QString &path)>;
    using TExitHandler = std::function<void(int code)>;
    void SetOpenHandler(TOpenHandler handler) { openHandler_ = std::move(handler); }
    void SetExitHandler(TExitHandler handler) { exitHandler_ = std::move(handler); }

    // The running (or last) check's thread, null before the first check.
    TThreadUpdate *Thread() const { return thrUpdate.get(); }

    // Called through the main thread by the check thread.
    void ShowNotice();
    void DownloadFinished(bool ok, const QString &path);

    // "Отмена", Esc and the window's close box alike: the user declines, and the choice of
    // "Больше не показывать" is stored.
    void reject() override;

    bool skipUpdate = false;
    std::unique_ptr<TThreadUpdate> thrUpdate;
    TConfigController *config = nullptr;
    QPointer<QWidget> masterForm;

private:
    void OnDownload();
    void OnCancel();
    void OnSkipToggled(bool checked);

    QLabel *label_;
    QCheckBox *skipBox_;
    QPushButton *downloadButton_;
    QPushButton *cancelButton_;
    TUpdateOptions options_;
    TOpenHandler openHandler_;
    TExitHandler exitHandler_;
    bool shown_ = false;
};
