#include "recorder/app/single_instance.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLockFile>

#include <filesystem>
#include <system_error>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvo {

namespace {

constexpr int kConnectMs = 2000;
// The running recorder answers from its event loop, which a modal message box keeps
// running; only a hung recorder takes this long.
constexpr int kAnswerMs = 10000;
constexpr int kLockMs = 15000;
constexpr char kTaken = 'k';
// A command line is a path or two; anything bigger is not one of ours.
constexpr quint32 kMaxMessage = 1 << 20;

QByteArray encode(const std::vector<std::string>& arguments, const std::string& workingFolder) {
    QByteArrayList list;
    for (const std::string& argument : arguments)
        list << QByteArray::fromStdString(argument);
    QByteArray body;
    QDataStream out(&body, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << QByteArray::fromStdString(workingFolder) << list;
    QByteArray message;
    QDataStream framed(&message, QIODevice::WriteOnly);
    framed.setVersion(QDataStream::Qt_6_0);
    framed << static_cast<quint32>(body.size());
    return message + body;
}

// Owned by this user, a folder and not a link to one, and nobody else may enter it: what
// lies inside was put there by this user.
bool isPrivateFolder(const QString& folder) {
    struct stat info {};
    return QDir::isAbsolutePath(folder) && ::lstat(QFile::encodeName(folder), &info) == 0 &&
           S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

// Made with mode 700 when missing; one that exists counts only if it passes the check.
bool makePrivateFolder(const QString& folder) {
    QDir().mkpath(QFileInfo(folder).path());
    ::mkdir(QFile::encodeName(folder), 0700);
    return isPrivateFolder(folder);
}

// A socket that is this user's own and answered by a process of this user's.
bool isOwnSocketFile(const QString& name) {
    struct stat info {};
    return ::lstat(QFile::encodeName(name), &info) == 0 && S_ISSOCK(info.st_mode) &&
           info.st_uid == ::getuid();
}

bool peerIsThisUser(const QLocalSocket& socket) {
    struct ucred peer {};
    socklen_t size = sizeof peer;
    return ::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                        &size) == 0 &&
           peer.uid == ::getuid();
}

} // namespace

QString SingleInstance::socketFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isPrivateFolder(runtime))
        return QDir::cleanPath(runtime);
    // The shared temporary folder: anyone may have made this name first, so it counts only
    // when it is this user's own.
    const QString temporary =
        QDir(QDir::tempPath()).filePath(QStringLiteral("KelvoRecorder-%1").arg(::getuid()));
    if (makePrivateFolder(temporary))
        return temporary;
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!QDir::isAbsolutePath(cache))
        cache = QDir::homePath() + QStringLiteral("/.cache");
    cache = QDir(cache).filePath(QStringLiteral("KelvoRecorder"));
    if (makePrivateFolder(cache))
        return cache;
    return {};
}

QString SingleInstance::serverName(const QString& dataFolder) {
    QFileInfo folder(dataFolder);
    const QString canonical = folder.canonicalFilePath();
    const QByteArray key = (canonical.isEmpty() ? folder.absoluteFilePath() : canonical).toUtf8();
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(16));
    const QString sockets = socketFolder();
    return sockets.isEmpty() ? QString()
                             : QDir(sockets).filePath(QStringLiteral("KelvoRecorder-") + hash);
}

std::string SingleInstance::workingFolder() {
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::current_path(error);
    return error ? std::string() : folder.native();
}

SingleInstance::SingleInstance(QString serverName, QObject* parent)
    : QObject(parent), name_(std::move(serverName)) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::serve);
}

SingleInstance::Claim SingleInstance::claim(const std::vector<std::string>& arguments,
                                            const std::string& workingFolder) {
    problem_.clear();
    if (name_.isEmpty()) {
        problem_ = QStringLiteral("There is no folder of this user's own for the recorder's "
                                  "socket, so this KelvoRecorder runs on its own.");
        return Claim::Unavailable;
    }
    QLockFile lock(name_ + QStringLiteral(".lock"));
    lock.setStaleLockTime(0); // stale only when its holder is gone
    const bool locked = lock.tryLock(kLockMs);
    // Without the lock the check still runs; only two starts in the same instant could race.
    switch (handOver(encode(arguments, workingFolder))) {
    case HandOver::Done:
        return Claim::HandedOver;
    case HandOver::Foreign:
        problem_ = QStringLiteral("The recorder's socket %1 belongs to another user, so this "
                                  "KelvoRecorder runs on its own and told it nothing.")
                       .arg(name_);
        return Claim::Unavailable;
    case HandOver::NoAnswer:
        problem_ = QStringLiteral("Another KelvoRecorder is running but did not answer.");
        return Claim::NoAnswer;
    case HandOver::NobodyThere:
        break;
    }
    if (!locked || !listen()) {
        if (problem_.isEmpty())
            problem_ = QStringLiteral("The lock %1 cannot be taken.").arg(lock.fileName());
        return Claim::Unavailable;
    }
    return Claim::First;
}

SingleInstance::HandOver SingleInstance::handOver(const QByteArray& message) {
    struct stat info {};
    if (::lstat(QFile::encodeName(name_), &info) != 0)
        return HandOver::NobodyThere;
    // Whoever else made this name would receive the command line, which names the data
    // folder and the show, and could end this start with a word.
    if (!isOwnSocketFile(name_))
        return HandOver::Foreign;
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(kConnectMs))
        return HandOver::NobodyThere;
    if (!peerIsThisUser(socket))
        return HandOver::Foreign;
    socket.write(message);
    if (!socket.waitForBytesWritten(kAnswerMs))
        return HandOver::NoAnswer;
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(kAnswerMs))
            return HandOver::NoAnswer;
    }
    char answer = 0;
    socket.getChar(&answer);
    return answer == kTaken ? HandOver::Done : HandOver::NoAnswer;
}

bool SingleInstance::listen() {
    if (server_.listen(name_))
        return true;
    // Nobody answered on it (we checked under the lock): a crashed recorder's socket.
    QLocalServer::removeServer(name_);
    if (server_.listen(name_))
        return true;
    problem_ = server_.errorString();
    return false;
}

void SingleInstance::serve() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->bytesAvailable() < 4)
                return;
            // Peeked, so that a message arriving in pieces stays whole until complete.
            quint32 size = 0;
            const QByteArray head = socket->peek(4);
            QDataStream sizeIn(head);
            sizeIn.setVersion(QDataStream::Qt_6_0);
            sizeIn >> size;
            if (size > kMaxMessage) {
                socket->abort();
                return;
            }
            if (socket->bytesAvailable() < 4 + static_cast<qint64>(size))
                return;
            socket->read(4);
            QDataStream body(socket->read(size));
            body.setVersion(QDataStream::Qt_6_0);
            QByteArray workingFolder;
            QByteArrayList arguments;
            body >> workingFolder >> arguments;
            if (body.status() != QDataStream::Ok) {
                socket->abort();
                return;
            }
            socket->putChar(kTaken);
            socket->flush();
            // The show is loaded after answering: loading may ask the user something, and
            // the other start must not wait for that.
            QMetaObject::invokeMethod(
                this,
                [this, arguments, workingFolder] { emit commandLine(arguments, workingFolder); },
                Qt::QueuedConnection);
        });
    }
}

} // namespace kelvo
