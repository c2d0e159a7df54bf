#include "update/updatefetch.h"

#include "update/updateendpoints.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>

#include <functional>
#include <memory>

namespace KestUpdate {

namespace {

constexpr int kAbortPollMs = 50;
constexpr int kMaxRedirects = 5;

QNetworkRequest MakeRequest(const QUrl &url, const TFetchOptions &options)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, options.userAgent);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // Proxies and the server's own caches are asked for a fresh copy too.
    request.setRawHeader("Cache-Control", "no-cache, no-store");
    request.setRawHeader("Pragma", "no-cache");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setTransferTimeout(options.stallTimeoutMs);
    return request;
}

// Runs `reply` to its end. `onData` gets every piece of the body as it arrives and returns false
// to stop the transfer (the result is then `refused`).
TFetchResult Run(QNetworkReply *reply, const QUrl &origin, const TAbortCheck &aborted,
    const std::function<bool(const QByteArray &)> &onData, qint64 &received)
{
    received = 0;
    TFetchResult stopped = TFetchResult::Ok;
    QEventLoop loop; // also the context of every connection below: they end with this call
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::redirected, &loop, [&](const QUrl &target) {
        if (IsRedirectAllowed(origin, target)) {
            emit reply->redirectAllowed();
        } else {
            stopped = TFetchResult::Failed;
            reply->abort();
        }
    });
    const auto drain = [&] {
        if (stopped != TFetchResult::Ok || !reply->isOpen())
            return;
        const QByteArray piece = reply->readAll();
        if (piece.isEmpty())
            return;
        received += piece.size();
        if (!onData(piece)) {
            stopped = TFetchResult::TooLarge;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, drain);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (stopped == TFetchResult::Ok && aborted && aborted()) {
            stopped = TFetchResult::Aborted;
            reply->abort();
        }
    });
    tick.start(kAbortPollMs);
    if (!reply->isFinished())
        loop.exec();
    drain();
    if (stopped != TFetchResult::Ok)
        return stopped;
    if (reply->error() != QNetworkReply::NoError)
        return TFetchResult::Failed;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299))
        return TFetchResult::Failed;
    // A connection that closed early can look like a regular end; the announced length tells.
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && announced.toLongLong() != received)
        return TFetchResult::Failed;
    return TFetchResult::Ok;
}

// The server's announced length above the limit: no need to wait for the bytes.
void RefuseOversized(QNetworkReply *reply, qint64 maxBytes, bool &oversized)
{
    // `oversized` outlives the reply in every caller.
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, maxBytes, &oversized] {
        const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
        if (maxBytes > 0 && announced.isValid() && announced.toLongLong() > maxBytes) {
            oversized = true;
            reply->abort();
        }
    });
}

} // namespace

TFetchResult FetchPage(QNetworkAccessManager &manager, const QUrl &url, const TFetchOptions &options,
    const TAbortCheck &aborted, QByteArray &body)
{
    body.clear();
    bool oversized = false;
    std::unique_ptr<QNetworkReply> reply(manager.get(MakeRequest(url, options)));
    RefuseOversized(reply.get(), options.maxBytes, oversized);
    qint64 received = 0;
    TFetchResult result = Run(
        reply.get(), url, aborted,
        [&](const QByteArray &piece) {
            if (options.maxBytes > 0 && body.size() + piece.size() > options.maxBytes)
                return false;
            body += piece;
            return true;
        },
        received);
    if (oversized && result == TFetchResult::Failed)
        result = TFetchResult::TooLarge;
    if (result != TFetchResult::Ok)
        body.clear();
    return result;
}

TFetchResult DownloadToFile(QNetworkAccessManager &manager, const QUrl &url, const TFetchOptions &options,
    const TAbortCheck &aborted, const QString &targetPath)
{
    QSaveFile file(targetPath);
    // Only ever a temporary file and a rename: never write into the target itself.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return TFetchResult::Failed;
    bool oversized = false;
    std::unique_ptr<QNetworkReply> reply(manager.get(MakeRequest(url, options)));
    RefuseOversized(reply.get(), options.maxBytes, oversized);
    qint64 written = 0;
    bool writeFailed = false;
    qint64 received = 0;
    TFetchResult result = Run(
        reply.get(), url, aborted,
        [&](const QByteArray &piece) {
            if (options.maxBytes > 0 && written + piece.size() > options.maxBytes)
                return false;
            if (file.write(piece) != piece.size()) {
                writeFailed = true;
                return false;
            }
            written += piece.size();
            return true;
        },
        received);
    if (oversized && result == TFetchResult::Failed)
        result = TFetchResult::TooLarge;
    if (writeFailed)
        result = TFetchResult::Failed;
    if (result == TFetchResult::Ok && received > 0 && file.commit())
        return TFetchResult::Ok;
    file.cancelWriting();
    return result == TFetchResult::Ok ? TFetchResult::Failed : result;
}

} // namespace KestUpdate
