#include "recorder/recording/recording_report.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

namespace kelvo {
namespace {

const QDateTime kStart(QDate(2026, 12, 7), QTime(18, 0, 0));

TEST(RecordingVerdict, SaysAllWellOrWhatWentWrongInTheOrderItMatters) {
    const auto event = [](int at, RecordingEventKind kind, std::int64_t seconds = 0) {
        return RecordingEvent{kStart.addSecs(at), kind, QStringLiteral("told"), seconds};
    };
    KelvoStatus engine{};
    engine.bytesWritten = 3600ull * 44100 * 4;
    const std::pair<std::function<void(RecordingSession&, KelvoStatus&)>, const char*> cases[] = {
        {[](RecordingSession&, KelvoStatus&) {}, "1:00:00, all well"},
        {[&](RecordingSession& session, KelvoStatus& status) {
             // Dead air from 10:00 to 14:00, then two gaps, 2 s in all.
             session.events = {event(660, RecordingEventKind::Silent, 60),
                               event(840, RecordingEventKind::SoundBack)};
             status.gaps = 2;
             status.framesFilled = 2 * 44100;
         },
         "1:00:00, 4 min silent, 2 gaps of 2 s"},
        {[](RecordingSession&, KelvoStatus& status) {
             status.gaps = 1;
             status.framesFilled = 44100 * 3 / 2;
         },
         "1:00:00, 1 gap of 1.5 s"},
        {[](RecordingSession&, KelvoStatus& status) {
             // Silent up to the stop for 3 minutes, never told: still dead air.
             status.silentRunFrames = 180ull * 44100;
         },
         "1:00:00, 3 min silent"},
        {[](RecordingSession&, KelvoStatus& status) { status.silentRunFrames = 30ull * 44100; },
         "1:00:00, all well"}, // a pause, not dead air
        {[&](RecordingSession& session, KelvoStatus&) {
             session.late.seconds = 300;
             session.show.settings.file.sourceName = "Line In";
             session.events = {event(0, RecordingEventKind::SourceMissing),
                               event(120, RecordingEventKind::SourceBack)};
         },
         "1:00:00, started 5 min late, Line In missing for 2 min"},
        {[](RecordingSession& session, KelvoStatus&) {
             session.endedBy = RecordingEnd::WriteError;
             session.writeError = ENOSPC;
         },
         "1:00:00, stopped: disk full"},
    };
    for (const auto& [change, verdict] : cases) {
        RecordingSession session;
        session.sampleRate = 44100;
        session.channels = 2;
        session.startedAt = kStart;
        session.endedAt = kStart.addSecs(3600);
        KelvoStatus status = engine;
        change(session, status);
        EXPECT_EQ(verdictText(reportOf(session, status)).toStdString(), verdict);
    }
}

TEST(RecordingReport, ComesBackAsWrittenAndAMalformedOneGivesNothingOrTheDefaults) {
    RecordingSession session;
    session.show.readableName = "Night Watch";
    session.show.settings.file.sourceName = "Line In";
    session.startedBy = RecordingStart::BySchedule;
    session.sampleRate = 22050;
    session.channels = 1;
    session.startedAt = kStart;
    session.endedAt = kStart.addSecs(600);
    session.endedBy = RecordingEnd::StopTime;
    session.fileName = "soundfiles/Night Watch-12-07-26-18-00-00.wav";
    session.parts = 2;
    session.secondsAsked = 660;
    session.late = {60, "Recording Night Watch started 1 min late", false};
    session.events = {{kStart.addSecs(100), RecordingEventKind::SourceMissing, "gone", 0},
                      {kStart.addSecs(160), RecordingEventKind::SourceBack, "back", 60}};
    KelvoStatus status{};
    status.bytesWritten = 600ull * 22050;
    status.gaps = 1;
    status.framesFilled = 60ull * 22050;
    status.framesSilent = 75ull * 22050;
    status.highestPeak = 16384; // -6 dBFS
    status.sumOfSquares = 3276ull * 3276 * 1000;
    status.samples = 1000; // RMS 3276: -20 dBFS

    QTemporaryDir folder;
    const QString path = reportPathOf(folder.path() + "/a.wav");
    // A stream's titles come from the engine's cue sheet beside the file.
    session.filePath = folder.path() + "/a.wav";
    session.streamAddress = "http://radio.example/live";
    QFile cue(folder.path() + "/a.cue");
    ASSERT_TRUE(cue.open(QIODevice::WriteOnly));
    cue.write("FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"Intro\"\n    INDEX 01 00:01:30\n"
              "  TRACK 02 AUDIO\n    TITLE \"No time\"\n    INDEX 01 xx:01\n"
              "FILE \"a-2.wav\" WAVE\n  TRACK 03 AUDIO\n    TITLE \"Caf\xc3\xa9\"\n    INDEX 01 "
              "01:02:00\n");
    cue.close();
    RecordingReport written = reportOf(session, status);
    written.parts[1].encoder = EncoderState::Failed;
    written.parts[1].exitCode = 3;
    ASSERT_EQ(writeReport(path, written), QString());
    const std::optional<RecordingReport> read = readReport(path);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(reportJson(*read), reportJson(written)) << "nothing lost on the way";
    EXPECT_EQ(read->secondsRecorded, 600);
    EXPECT_EQ(read->lateSeconds, 60);
    ASSERT_EQ(read->sourcesRecorded.size(), 2u) << "recorded up to the loss and from its return";
    EXPECT_EQ(read->sourcesRecorded[0].to, kStart.addSecs(100));
    EXPECT_EQ(read->sourcesRecorded[1].from, kStart.addSecs(160));
    EXPECT_NEAR(*read->peakDbfs, -6.0, 0.1);
    EXPECT_NEAR(*read->rmsDbfs, -20.0, 0.1);
    EXPECT_DOUBLE_EQ(read->silentSeconds, 75);
    EXPECT_EQ(read->parts[1].file, "soundfiles/Night Watch-12-07-26-18-00-00-2.wav");
    ASSERT_EQ(read->titles.size(), 2u) << "a title without a readable time is passed over";
    EXPECT_EQ(std::tuple(read->titles[0].part, read->titles[0].seconds, read->titles[0].title),
              std::tuple(1, 1.4, QString("Intro")));
    EXPECT_EQ(std::tuple(read->titles[1].part, read->titles[1].seconds, read->titles[1].title),
              std::tuple(2, 62.0, QString("Café")));
    EXPECT_EQ(read->stream, "http://radio.example/live");
    EXPECT_EQ(verdictFindings(*read), "started 1 min late, Line In missing for 1 min, "
                                      "1 gap of 1 min, 1 of 2 MP3s not made");

    // Whatever lies under the name, reading it is safe.
    const char* unusable[] = {"", "not json", "[1, 2]", "{\"format\": 99}", "{\"format\": 1"};
    for (const char* text : unusable) {
        EXPECT_FALSE(reportFromJson(text).has_value()) << text;
    }
    const auto odd = reportFromJson(R"({"format": 1, "show": 7, "parts": {"file": 1},
        "seconds": {"recorded": -5, "asked": 1e300}, "gaps": {"count": "two"},
        "level": {"peakDbfs": "loud"}, "end": {"by": "meteor"}, "events": [3, null]})");
    ASSERT_TRUE(odd.has_value());
    EXPECT_EQ(odd->show, QString());
    EXPECT_TRUE(odd->parts.empty());
    EXPECT_EQ(odd->secondsRecorded, 0);
    EXPECT_EQ(odd->secondsAsked, 0);
    EXPECT_FALSE(odd->peakDbfs.has_value());
    EXPECT_EQ(odd->endedBy, RecordingEnd::ByHand);
    EXPECT_EQ(odd->events.size(), 2u);
    QFile big(path);
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    big.write(QByteArray(kMaxReportBytes + 1, ' '));
    big.close();
    EXPECT_FALSE(readReport(path).has_value()) << "too big to be a report";
    EXPECT_FALSE(readReport(folder.path() + "/none.wav.json").has_value());
}

} // namespace
} // namespace kelvo
