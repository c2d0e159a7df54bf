#include "update/threadupdate.h"

#include "update/update.h"
#include "update/updateendpoints.h"
#include "update/updatefetch.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QUrl>

using namespace KestUpdate;

TThreadUpdate::TThreadUpdate(TUpdate *form, const QString &name, const QString &version, const QString &pageUrl,
    const QString &installerUrl, const QString &appData, const TUpdateOptions &options)
    : updateForm(form), ProgName(name), currentVersion(version), versionUrl(pageUrl), downloadUrl(installerUrl),
      pathAppData(appData), options_(options)
{
}

TThreadUpdate::~TThreadUpdate()
{
    Stop();
    wait();
}

void TThreadUpdate::SetMode(TUpdateMode mode)
{
    if (mode != TUpdateMode::None)
        outcome_.store(TUpdateOutcome::Pending);
    UpdateMode.store(mode);
    wake_.release();
}

void TThreadUpdate::NoticeClosed()
{
    noticeClosed_.store(true);
    wake_.release();
}

void TThreadUpdate::Stop()
{
    stop_.store(true);
    wake_.release();
}

void TThreadUpdate::Finish(TUpdateOutcome outcome)
{
    outcome_.store(Stopping() ? TUpdateOutcome::Aborted : outcome);
}

void TThreadUpdate::run()
{
    // Lives and dies on this thread, with the transfers it makes.
    QNetworkAccessManager manager;
    while (!Stopping()) {
        switch (UpdateMode.load()) {
        case TUpdateMode::CheckVersion:
            CheckVersion(manager);
            break;
        case TUpdateMode::DownloadUpdate:
            DownloadUpdate(manager);
            break;
        case TUpdateMode::None:
            wake_.acquire();
            break;
        }
    }
}

void TThreadUpdate::CheckVersion(QNetworkAccessManager &manager)
{
    const TAbortCheck stopping = [this] { return Stopping(); };
    const QUrl page(versionUrl);

    if (ProbeHost(page.host(), PortOf(page), options_.probe, stopping) != TProbeResult::Reply) {
        UpdateMode.store(TUpdateMode::None);
        Finish(TUpdateOutcome::Unreachable);
        return;
    }

    QByteArray body;
    const TFetchOptions fetch{options_.userAgent, options_.stallTimeoutMs, options_.maxPageBytes};
    const TFetchResult read = FetchPage(manager, page, fetch, stopping, body);
    UpdateMode.store(TUpdateMode::None);
    if (read != TFetchResult::Ok || body.isEmpty()) {
        Finish(TUpdateOutcome::PageFailed);
        return;
    }

    switch (JudgePage(body, ProgName, currentVersion, &Version)) {
    case TVersionVerdict::NameMissing:
        Finish(TUpdateOutcome::NameMissing);
        return;
    case TVersionVerdict::NotANumber:
        Finish(TUpdateOutcome::NotANumber);
        return;
    case TVersionVerdict::UpToDate:
        Finish(TUpdateOutcome::UpToDate);
        return;
    case TVersionVerdict::Newer:
        break;
    }

    updateUrl = downloadUrl;
    noticeClosed_.store(false);
    Finish(TUpdateOutcome::Notified);
    TUpdate *form = updateForm;
    QMetaObject::invokeMethod(
        form, [form] { form->ShowNotice(); }, Qt::QueuedConnection);
    while (!noticeClosed_.load() && !Stopping())
        wake_.acquire();
}

void TThreadUpdate::DownloadUpdate(QNetworkAccessManager &manager)
{
    const TAbortCheck stopping = [this] { return Stopping(); };
    const QString target = pathAppData + QStringLiteral("/Update.exe");
    TFetchResult result = TFetchResult::Failed;
    if (!pathAppData.isEmpty() && QDir().mkpath(pathAppData)) {
        const TFetchOptions fetch{options_.userAgent, options_.stallTimeoutMs, options_.maxDownloadBytes};
        result = DownloadToFile(manager, QUrl(updateUrl), fetch, stopping, target);
    }
    UpdateMode.store(TUpdateMode::None);
    if (result == TFetchResult::Aborted || Stopping()) {
        Finish(TUpdateOutcome::Aborted);
        return;
    }
    const bool ok = result == TFetchResult::Ok;
    Finish(ok ? TUpdateOutcome::Downloaded : TUpdateOutcome::DownloadFailed);
    TUpdate *form = updateForm;
    QMetaObject::invokeMethod(
        form, [form, ok, target] { form->DownloadFinished(ok, target); }, Qt::QueuedConnection);
}
