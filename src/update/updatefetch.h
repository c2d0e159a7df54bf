#pragma once
// The two HTTP(S) transfers of the update check, run on the calling thread with a local event
// loop: reading the version page into memory and downloading the installer to a file. No cache is
// read or written, redirects are checked, the size is capped, a stalled transfer times out, and the
// caller can abort at any moment.

#include "update/reachability.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;

namespace KestUpdate {

enum class TFetchResult { Ok, Failed, TooLarge, Aborted };

struct TFetchOptions {
    QByteArray userAgent;
    int stallTimeoutMs = 30000; // no data for this long ends the transfer
    qint64 maxBytes = 0; // 0: no limit
};

// The body of `url`.
TFetchResult FetchPage(QNetworkAccessManager &manager, const QUrl &url, const TFetchOptions &options,
    const TAbortCheck &aborted, QByteArray &body);

// `url` into `targetPath`, through a temporary file beside it that replaces `targetPath` only
// once the whole body has arrived (as long as the server announced, when it announced a length).
// On any failure `targetPath` is left as it was and no temporary file stays behind.
TFetchResult DownloadToFile(QNetworkAccessManager &manager, const QUrl &url, const TFetchOptions &options,
    const TAbortCheck &aborted, const QString &targetPath);

} // namespace KestUpdate
