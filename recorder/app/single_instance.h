// One running recorder per user and data folder. The first start listens on a local socket;
// a later start hands its command line to it and ends, so that two recorders never fight
// over the capture device or save the same show files.
//
// The socket lives in a folder only this user can reach (see socketFolder) and its name
// carries a hash of the data folder: two installs with folders of their own are two
// recorders; two that share the user's data folder are one. The check and the claim run
// under a lock file, so that two starts at once cannot both become the first, and a socket
// file left by a crashed recorder (nobody answers on it) is removed and taken over. A socket
// another user made, or answered by another user's process, is never sent anything.
//
// Threads: the thread that runs the event loop (the window's).
#pragma once

#include <QByteArrayList>
#include <QLocalServer>
#include <QObject>
#include <QString>

#include <string>
#include <vector>

namespace kelvo {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Claim {
        First,       // this is the running recorder now; handed-over command lines follow
        HandedOver,  // another recorder took the command line: end this one with 0
        NoAnswer,    // another recorder holds the socket but did not take the command line
        Unavailable, // the socket cannot be made: run, but a second start is not caught
    };

    // XDG_RUNTIME_DIR; without a usable one, TMPDIR's (or /tmp's) KelvoRecorder-UID, and
    // when another user holds that name, XDG_CACHE_HOME's KelvoRecorder. Each must be this
    // user's own, no link and mode 700 (the last two are made so); empty when none is.
    static QString socketFolder();
    // The socket's full path for this user and data folder; empty without a socket folder.
    static QString serverName(const QString& dataFolder);
    // The process's working folder as bytes; empty when it is gone (deleted under a shell
    // that still stands in it), so that only absolute paths can be handed over.
    static std::string workingFolder();

    explicit SingleInstance(QString serverName, QObject* parent = nullptr);

    // Either hands `arguments` (the command line after the program's name, relative paths
    // meant from `workingFolder`) to the running recorder or becomes it. Both go as bytes:
    // a file name need not be valid in any encoding.
    Claim claim(const std::vector<std::string>& arguments, const std::string& workingFolder);

    // Why the last claim was NoAnswer or Unavailable, for the user.
    const QString& problem() const { return problem_; }

signals:
    // A later start's command line, as it gave it.
    void commandLine(const QByteArrayList& arguments, const QByteArray& workingFolder);

private:
    enum class HandOver { Done, NobodyThere, NoAnswer, Foreign };
    HandOver handOver(const QByteArray& message);
    bool listen();
    void serve();

    QString name_;
    QString problem_;
    QLocalServer server_;
};

} // namespace kelvo
