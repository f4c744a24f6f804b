// A short look at a webcast address, to tell whether the engine could record it itself: one
// GET, its headers and at most the first 64 KiB, abandoned after a few seconds. Runs on Qt's
// network machinery, never blocking the window.
//
// Threads: the window's thread; answers arrive as signals on it.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

namespace kelvo {

enum class StreamKind {
    Other,         // a page, an error, no answer: nothing to suggest
    Stream,        // audio itself (Icecast, Shoutcast, an HLS playlist)
    PlaylistOfOne, // a .m3u, .pls or .xspf playlist with one network address
};

// What an answer's content type and first bytes make it.
StreamKind streamKindOf(const QByteArray& contentType, const QByteArray& body);

class StreamProbe : public QObject {
    Q_OBJECT

public:
    static constexpr int kTimeoutMs = 5000;
    static constexpr qint64 kMaxBytes = 64 * 1024;

    explicit StreamProbe(QObject* parent = nullptr);
    ~StreamProbe() override;

    // Looks at `address` (http:// and https:// only; anything else is not looked at), in
    // place of a look still under way.
    void probe(const QString& address);

signals:
    void answered(const QString& address, kelvo::StreamKind kind);

private:
    void finish(StreamKind kind);

    QNetworkAccessManager* network_;
    QNetworkReply* reply_ = nullptr;
    QString address_;
    QByteArray body_;
};

} // namespace kelvo
