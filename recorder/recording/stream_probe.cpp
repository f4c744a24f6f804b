#include "recorder/recording/stream_probe.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <utility>

namespace kelvo {

namespace {

bool networkAddress(const QByteArray& line) {
    return line.startsWith("http://") || line.startsWith("https://");
}

int playlistEntries(const QByteArray& type, const QByteArray& body) {
    int entries = 0;
    if (type.contains("xspf")) {
        return static_cast<int>(body.count("<location>http"));
    }
    for (const QByteArray& raw : body.split('\n')) {
        QByteArray line = raw.trimmed();
        // .pls: File1=http://...
        if (type.contains("scpls") && line.toLower().startsWith("file")) {
            line = line.mid(line.indexOf('=') + 1).trimmed();
        }
        entries += networkAddress(line) ? 1 : 0;
    }
    return entries;
}

} // namespace

StreamKind streamKindOf(const QByteArray& contentType, const QByteArray& body) {
    const QByteArray type = contentType.split(';').first().trimmed().toLower();
    if (type == "application/vnd.apple.mpegurl" || type == "application/x-mpegurl") {
        return StreamKind::Stream; // HLS: the engine follows it itself
    }
    if (type == "audio/x-mpegurl" || type == "audio/mpegurl" || type == "audio/x-scpls" ||
        type == "application/pls+xml" || type == "application/xspf+xml") {
        return playlistEntries(type, body) == 1 ? StreamKind::PlaylistOfOne : StreamKind::Other;
    }
    if (type.startsWith("audio/") || type == "application/ogg") {
        return StreamKind::Stream;
    }
    return StreamKind::Other;
}

StreamProbe::StreamProbe(QObject* parent)
    : QObject(parent), network_(new QNetworkAccessManager(this)) {}

StreamProbe::~StreamProbe() {
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
    }
}

void StreamProbe::probe(const QString& address) {
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        return;
    }
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
        reply_->deleteLater();
    }
    address_ = address;
    body_.clear();
    QNetworkRequest request(url);
    request.setTransferTimeout(kTimeoutMs);
    request.setMaximumRedirectsAllowed(3);
    reply_ = network_->get(request);
    connect(reply_, &QNetworkReply::readyRead, this, [this] {
        const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status < 200 || status > 299) {
            return; // an error page; finished() tells
        }
        const QByteArray type = reply_->header(QNetworkRequest::ContentTypeHeader).toByteArray();
        const StreamKind kind = streamKindOf(type, {});
        // A stream never ends: its headers are the answer. A playlist is read to its end.
        if (kind == StreamKind::Stream) {
            finish(kind);
            return;
        }
        body_ += reply_->read(kMaxBytes - body_.size());
        if (body_.size() >= kMaxBytes) {
            finish(streamKindOf(type, body_));
        }
    });
    connect(reply_, &QNetworkReply::finished, this, [this] {
        const bool ok = reply_->error() == QNetworkReply::NoError;
        body_ += reply_->read(kMaxBytes - body_.size());
        finish(ok ? streamKindOf(reply_->header(QNetworkRequest::ContentTypeHeader).toByteArray(),
                                 body_)
                  : StreamKind::Other);
    });
}

void StreamProbe::finish(StreamKind kind) {
    QNetworkReply* reply = std::exchange(reply_, nullptr);
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
    emit answered(address_, kind);
}

} // namespace kelvo
