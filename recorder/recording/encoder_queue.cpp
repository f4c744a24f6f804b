#include "recorder/recording/encoder_queue.h"

#include "recorder/recording/recording_controller.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace kelvo {

struct EncoderQueue::Chain {
    EncoderJob job;
    std::size_t next = 0;    // the part to start next
    std::size_t current = 0; // the part being encoded while fd >= 0
    int fd = -1;             // its exit descriptor
    std::unique_ptr<QSocketNotifier> notifier;
    QTimer patience;

    ~Chain() {
        notifier.reset();
        if (fd >= 0) {
            close(fd);
        }
    }
    bool running() const { return fd >= 0; }
};

EncoderQueue::EncoderQueue(EncoderLauncher launcher, QObject* parent, std::int64_t patienceSeconds)
    : QObject(parent), launcher_(std::move(launcher)), patienceSeconds_(patienceSeconds) {}

EncoderQueue::~EncoderQueue() {
    // The program is ending: parts still waiting are started now, side by side, rather than
    // never; encoders outlive the recorder anyway.
    for (const auto& chain : chains_) {
        for (std::size_t part = chain->next; part < chain->job.parts.size(); ++part) {
            launcher_.run(chain->job.bitRate, chain->job.parts[part]);
        }
    }
}

QString EncoderQueue::notMadeText(const QString& show, const QString& why) {
    return QStringLiteral("MP3 of %1 not made: %2; the WAV is kept").arg(show, why);
}

QString EncoderQueue::missingScriptText() const {
    QStringList folders;
    for (const std::string& folder : launcher_.scriptFolders()) {
        folders << QFile::decodeName(QByteArray::fromStdString(folder));
    }
    return QStringLiteral("there is no %1 in %2")
        .arg(QString::fromLatin1(kEncoderScript), folders.join(QStringLiteral(" or ")));
}

QString EncoderQueue::slowText(const QString& show, std::int64_t seconds) {
    return QStringLiteral("MP3 of %1 still being made after %2")
        .arg(show, RecordingController::lengthText(seconds));
}

void EncoderQueue::add(EncoderJob job) {
    auto chain = std::make_unique<Chain>();
    chain->job = std::move(job);
    chain->patience.setSingleShot(true);
    Chain& added = *chain;
    connect(&added.patience, &QTimer::timeout, this, [this, &added] {
        tell(added, EncoderState::StillRunning, {},
             slowText(added.job.show, added.patience.interval() / 1000));
    });
    chains_.push_back(std::move(chain));
    startNext(added);
}

std::size_t EncoderQueue::waiting() const {
    std::size_t count = 0;
    for (const auto& chain : chains_) {
        count += chain->job.parts.size() - chain->next;
    }
    return count;
}

bool EncoderQueue::busy() const {
    return std::any_of(chains_.begin(), chains_.end(),
                       [](const auto& chain) { return chain->running(); });
}

void EncoderQueue::tell(Chain& chain, EncoderState state, std::optional<int> exitCode,
                        const QString& text) {
    emit outcome(EncoderOutcome{chain.job.key, chain.current, state, exitCode, text});
}

void EncoderQueue::startNext(Chain& chain) {
    while (chain.next < chain.job.parts.size()) {
        chain.current = chain.next++;
        const std::string& wavName = chain.job.parts[chain.current];
        int exitFd = -1;
        const int pid = launcher_.runWatched(chain.job.bitRate, wavName, exitFd);
        if (pid <= 0) {
            if (exitFd >= 0) {
                close(exitFd);
            }
            tell(chain, EncoderState::Failed, {},
                 notMadeText(chain.job.show,
                             launcher_.script().empty()
                                 ? missingScriptText()
                                 : QStringLiteral("%1 could not be started").arg(kEncoderScript)));
            continue;
        }
        tell(chain, EncoderState::Running);
        if (exitFd < 0) {
            continue; // not watchable: nothing to wait for before the next part
        }
        chain.fd = exitFd;
        chain.notifier = std::make_unique<QSocketNotifier>(exitFd, QSocketNotifier::Read);
        connect(chain.notifier.get(), &QSocketNotifier::activated, this,
                [this, &chain] { finished(chain); });
        const std::int64_t seconds =
            std::max(patienceSeconds_, 4 * std::max<std::int64_t>(chain.job.recordingSeconds, 0));
        chain.patience.start(static_cast<int>(std::min<std::int64_t>(seconds, INT32_MAX / 1000)) *
                             1000);
        return;
    }
    // All parts started and ended (or not watchable): the chain is done. Callers touch it no
    // more, and its notifier, whose signal may be under way, is already handed to deleteLater.
    std::erase_if(chains_, [&chain](const auto& held) { return held.get() == &chain; });
}

void EncoderQueue::finished(Chain& chain) {
    const std::optional<int> status = exitStatusOf(chain.fd);
    chain.notifier->setEnabled(false);
    chain.notifier.release()->deleteLater();
    close(chain.fd);
    chain.fd = -1;
    chain.patience.stop();
    judge(chain, status);
    startNext(chain);
}

void EncoderQueue::judge(Chain& chain, std::optional<int> waitStatus) {
    const QString script = QString::fromLatin1(kEncoderScript);
    if (waitStatus && WIFSIGNALED(*waitStatus)) {
        tell(chain, EncoderState::Failed, {},
             notMadeText(chain.job.show, QStringLiteral("%1 was ended by signal %2")
                                             .arg(script)
                                             .arg(WTERMSIG(*waitStatus))));
        return;
    }
    std::optional<int> code;
    if (waitStatus && WIFEXITED(*waitStatus)) {
        code = WEXITSTATUS(*waitStatus);
    }
    if (code && *code != 0) {
        tell(chain, EncoderState::Failed, code,
             notMadeText(chain.job.show,
                         QStringLiteral("%1 exited with %2").arg(script).arg(*code)));
        return;
    }
    // The MP3 name is the one the script was given, in the folder it ran in.
    const QFileInfo mp3(QString::fromStdString(launcher_.workingFolder()) + QLatin1Char('/') +
                        QString::fromStdString(chain.job.parts[chain.current] + ".mp3"));
    if (!mp3.isFile() || mp3.size() == 0) {
        tell(chain, EncoderState::Failed, code,
             notMadeText(chain.job.show, QStringLiteral("%1 made no MP3").arg(script)));
        return;
    }
    tell(chain, EncoderState::Made, code);
}

} // namespace kelvo
