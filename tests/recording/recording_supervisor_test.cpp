// The supervisor of one recording, fed the engine's status as the controller's poll reads it:
// each deviation is told once when it begins and once when it ends, and kept on the session.
#include "recorder/recording/recording_supervisor.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kelvo;

namespace {

constexpr int kRate = 8000;

KelvoStatus capturing() {
    KelvoStatus s{};
    s.deviceState = KELVO_DEVICE_CAPTURING;
    s.parts = 1;
    s.framesCaptured = 100 * kRate;
    return s;
}

KelvoStatus withState(int state, std::uint32_t gaps = 0, std::uint64_t gapSeconds = 0) {
    KelvoStatus s = capturing();
    s.deviceState = state;
    s.gaps = gaps;
    s.lastGapFrames = gapSeconds * kRate;
    return s;
}

struct Watch {
    Watch() {
        session.show.readableName = "Evening";
        session.show.settings.file.sourceName = "Line In";
        session.sampleRate = kRate;
        session.fileName = QStringLiteral("soundfiles/Evening.wav");
        session.filePath = dir.filePath(QStringLiteral("soundfiles/Evening.wav"));
        QDir(dir.path()).mkpath(QStringLiteral("soundfiles"));
        QFile file(session.filePath);
        file.open(QIODevice::WriteOnly);
    }
    // The summaries told by each look, one string per look ("" when nothing was told).
    std::vector<std::string> feed(const std::vector<KelvoStatus>& looks) {
        std::vector<std::string> told;
        int second = 0;
        for (const KelvoStatus& s : looks) {
            std::string line;
            for (const auto& n : supervisor.look(s, at(++second))) {
                line += (line.empty() ? "" : " | ") + n.summary.toStdString();
            }
            told.push_back(line);
        }
        return told;
    }
    static QDateTime at(int second) {
        return QDateTime(QDate(2026, 12, 7), QTime(18, 0)).addSecs(second);
    }

    QTemporaryDir dir;
    RecordingSession session;
    RecordingSupervisor supervisor{session};
};

} // namespace

TEST(RecordingSupervisor, TellsEachDeviationOnceWhenItBeginsAndOnceWhenItEnds) {
    const KelvoStatus lost = withState(KELVO_DEVICE_RECONNECTING, 1, 2);
    struct Case {
        const char* fault;
        std::vector<KelvoStatus> looks;
        std::vector<std::string> told;
    };
    const Case cases[] = {
        {"the server goes and comes back",
         {lost, lost, withState(KELVO_DEVICE_CAPTURING, 1, 2),
          withState(KELVO_DEVICE_CAPTURING, 1, 2)},
         {"Recording Evening: sound device lost", "", "Recording Evening: sound device back", ""}},
        {"a gap between two looks is told too",
         {capturing(), withState(KELVO_DEVICE_CAPTURING, 1, 1)},
         {"", "Recording Evening: gap in the recording"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        Watch w;
        EXPECT_EQ(w.feed(c.looks), c.told);
        std::size_t toldCount = 0;
        for (const auto& t : c.told) {
            toldCount += t.empty() ? 0 : 1;
        }
        EXPECT_EQ(w.session.events.size(), toldCount);
    }
}

// Dead air is told once per stretch, at a minute (at 30 s for a webcast silent from its
// start), and again when there is sound; silence filled in for a lost device is not dead air.
TEST(RecordingSupervisor, DeadAirIsToldOncePerStretchAndWhenSoundIsBack) {
    const auto silentFor = [](std::uint64_t seconds, int state = KELVO_DEVICE_CAPTURING) {
        KelvoStatus s = withState(state);
        s.silentRunFrames = seconds * kRate;
        return s;
    };
    const std::string deadAir = "Recording Evening: nothing to hear for ";
    const std::string question = " (is the webcast playing? is Line In the right source?)";
    struct Case {
        const char* what;
        const char* webcast;
        int soundBefore; // seconds of sound between the start and the first silent look
        std::vector<KelvoStatus> looks;
        std::vector<std::string> told;
    };
    const Case cases[] = {
        {"a minute of silence, twice",
         "",
         0,
         {silentFor(59), silentFor(60), silentFor(75), silentFor(0), silentFor(61)},
         {"", deadAir + "1 min" + question, "", "Recording Evening: sound is back",
          deadAir + "1 min" + question}},
        {"a webcast silent from its start",
         "http://radio.example/",
         0,
         {silentFor(29), silentFor(30), silentFor(31)},
         {"", deadAir + "30 s" + question, ""}},
        {"a webcast that played first waits the minute",
         "http://radio.example/",
         40,
         {silentFor(30), silentFor(60)},
         {"", deadAir + "1 min" + question}},
        {"filled silence of a lost device",
         "",
         0,
         {silentFor(70, KELVO_DEVICE_RECONNECTING), silentFor(71, KELVO_DEVICE_RECONNECTING)},
         {"Recording Evening: sound device lost", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Watch w;
        w.session.webcastAddress = QString::fromLatin1(c.webcast);
        w.session.startedAt = Watch::at(
            1 - static_cast<int>(c.looks.front().silentRunFrames / kRate) - c.soundBefore);
        EXPECT_EQ(w.feed(c.looks), c.told);
    }
    Watch w;
    w.session.startedAt = Watch::at(0);
    w.feed({silentFor(60), silentFor(90), silentFor(0)});
    ASSERT_EQ(w.session.events.size(), 2u);
    EXPECT_EQ(w.session.events[0].kind, RecordingEventKind::Silent);
    EXPECT_EQ(w.session.events[0].seconds, 60);
    EXPECT_EQ(w.session.events[1].kind, RecordingEventKind::SoundBack);
    EXPECT_EQ(w.session.events[1].seconds, 90) << "the whole stretch";
}

TEST(RecordingSupervisor, AFileDeletedOrItsFolderRemovedIsToldAtOnceAndAgainWhenItIsBack) {
    for (const bool folder : {false, true}) {
        SCOPED_TRACE(folder ? "folder removed" : "file deleted");
        Watch w;
        EXPECT_EQ(w.feed({capturing()})[0], "");
        if (folder) {
            QDir(QFileInfo(w.session.filePath).path()).removeRecursively();
        } else {
            QFile::remove(w.session.filePath);
        }
        EXPECT_EQ(w.feed({capturing(), capturing()}),
                  (std::vector<std::string>{"Recording Evening: Evening.wav was deleted", ""}));
        EXPECT_EQ(w.supervisor.note(), QStringLiteral("file deleted"));
        // What the engine does at the stop.
        QDir(w.dir.path()).mkpath(QStringLiteral("soundfiles"));
        QFile back(w.session.filePath);
        back.open(QIODevice::WriteOnly);
        back.close();
        const auto notices = w.supervisor.stopped(capturing(), Watch::at(9));
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0].summary, QStringLiteral("Recording Evening: Evening.wav is back"));
        EXPECT_EQ(w.session.events.back().kind, RecordingEventKind::FileBack);
    }
    // The engine's next part is a new file of its own, not a deleted one.
    Watch parts;
    KelvoStatus second = capturing();
    second.parts = 2;
    QFile(QFileInfo(parts.session.filePath).path() + QStringLiteral("/Evening-2.wav"))
        .open(QIODevice::WriteOnly);
    EXPECT_EQ(parts.feed({capturing(), second, second}), (std::vector<std::string>{"", "", ""}));
}
