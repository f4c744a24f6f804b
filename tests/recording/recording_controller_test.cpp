#include "recorder/recording/stream_probe.h"
#include "tests/eventually.h"
#include "tests/recording/fakes.h"

#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>
#include <utility>

namespace kelvo {
namespace {

using Texts = std::vector<std::string>;

class RecordingControllerTest
    : public ::testing::Test,
      public testing::ControllerRig<testing::FakeNotifier, testing::FakeInhibitor> {
protected:
    std::string statusText() const { return status.text().toStdString(); }
    // The status line and its colour, which the clock shares.
    std::string shown() const {
        const QColor colour = status.palette().color(QPalette::WindowText);
        return (status.text() + " " + colour.name() +
                (colour == clock.palette().color(QPalette::WindowText) ? "" : " (clock differs)"))
            .toStdString();
    }
    // A stream's start has had its answer, however it went.
    bool answered() {
        return QTest::qWaitFor([this] { return !controller.connectingShow(); }, kEventuallyMs);
    }
    QStringList recordings() const { return QDir(data + "/soundfiles").entryList(QDir::Files); }
};

TEST_F(RecordingControllerTest, ARecordingFromIdleThroughPauseToStopAndTheNextOne) {
    meterPoll.start(50); // monitoring drives the meters
    controller.stopRecording();
    controller.togglePause();
    EXPECT_TRUE(engine.calls.empty() && meterPoll.isActive()) << "neither acts while idle";
    EXPECT_EQ(shown(), "Idle #0000ff");

    settings().webcastAddress = "http://radio.example/live";
    start();
    EXPECT_EQ(engine.starts,
              Texts{"1,2,44100," + dataText + "/soundfiles/Default-03-05-04-21-07-09.wav"});
    EXPECT_EQ(engine.calls, (Texts{"engine wanted", "source", "setSource speakers.monitor",
                                   "initialize", "startMonitor"}))
        << "the engine is told the chosen source; the server's default is left alone";
    EXPECT_TRUE(blink.isActive() && meterPoll.isActive());
    EXPECT_EQ(shown(), "Rec WebCast: Microphone #ff0000");
    for (const char* colour : {"#ff0000", "#7f0000", "#ff0000"}) {
        controller.blinkTick();
        EXPECT_EQ(shown(), std::string("Rec WebCast: Microphone ") + colour);
    }

    controller.togglePause();
    EXPECT_EQ(status.text(), "Paused: Microphone");
    blink.stop();
    meterPoll.stop();
    engine.calls.clear();
    now = now.addSecs(30);
    show.name = show.readableName = "Other";
    start();
    EXPECT_TRUE(engine.calls.empty()) << "a start while recording only re-enables the timers";
    EXPECT_EQ(controller.session()->fileName, "soundfiles/Default-03-05-04-21-07-09.wav");
    EXPECT_TRUE(blink.isActive() && meterPoll.isActive());
    controller.togglePause();
    EXPECT_EQ(status.text(), "Rec WebCast: Microphone");
    EXPECT_EQ(engine.calls, (Texts{"togglePause"}));

    controller.togglePause();
    controller.stopRecording();
    EXPECT_EQ(shown(), "Idle #0000ff");
    EXPECT_FALSE(blink.isActive() || meterPoll.isActive());
    settings().webcastAddress.clear();
    start();
    controller.blinkTick();
    EXPECT_EQ(shown(), "Rec: Microphone #7f0000") << "the blink continues where it left off";
    controller.togglePause();
    EXPECT_EQ(status.text(), "Paused: Microphone") << "the new recording started unpaused";
}

TEST_F(RecordingControllerTest, StartReadsTheListsAndNameAndOnlyMp3GoesToTheEncoderAtStop) {
    // An unknown rate keeps the last one; only "2" is stereo.
    const char* const starts[][3] = {
        {"96 kHz", "Stereo", "1,1,0,"}, {"8 kHz", "1", "1,1,8000,"}, {"96 kHz", "2", "1,2,8000,"}};
    for (const auto& [rate, channelsText, engineStart] : starts) {
        settings().sampleRate = rate;
        settings().channels = channelsText;
        settings().outputFormat = formats::kWav.toStdString();
        start();
        settings().outputFormat = formats::kMp3.toStdString(); // only the next start reads it
        controller.stopRecording();
        EXPECT_TRUE(engine.starts.back().starts_with(engineStart)) << engine.starts.back();
    }
    settings().mp3Quality = "320 Kb/sec";
    // The show's name is kept as it is, extension and all; midnight is hour 00.
    show.name = show.readableName = "Night.cia";
    now = QDateTime(QDate(2023, 12, 31), QTime(0, 0, 5));
    start();
    settings().mp3Quality = "16 Kb/sec";
    controller.stopRecording();
    const std::string wav = "soundfiles/Night.cia-12-31-23-00-00-05.wav";
    EXPECT_EQ(launcher.launches,
              (std::vector<Texts>{{dataText + "/encoder.bat", "320", wav, wav + ".mp3", dataText}}))
        << "WAV recordings start no process";

    // Without an encoder.bat of its own nothing is run, and the user hears why.
    QFile::remove(data + "/encoder.bat");
    start();
    controller.stopRecording();
    EXPECT_EQ(launcher.launches.size(), 1u);
    ASSERT_FALSE(notifier.sent.empty());
    EXPECT_EQ(notifier.sent.back().rfind("MP3 of Night.cia not made: there is no encoder.bat in " +
                                             dataText + "; the WAV is kept",
                                         0),
              0u)
        << notifier.sent.back();
}

TEST_F(RecordingControllerTest, FailedStartShowsOneMessageNotifiesAndLeavesNothingTicked) {
    settings().outputFormat = formats::kMp3.toStdString();
    settings().webcastAddress = "http://radio.example/live";
    engine.loadErrorText = "libkelvo.so: cannot open shared object file";
    const QString path = data + "/soundfiles/Default-03-05-04-21-07-09.wav";
    const std::tuple<int, int, int, QString> failures[] = {
        {-1, 0, 0, RecordingController::kEngineMessage},
        {0, -3, 0, RecordingController::kEngineMessage},
        {0, KELVO_ERR_CREATE_FILE, ENOSPC,
         "Cannot create the recording file " + path + ": No space left on device"},
        {CaptureEngine::kEngineUnavailable, 0, 0,
         "The capture engine libkelvo.so could not be loaded, so nothing can be recorded or "
         "monitored.\n\n"
         "libkelvo.so: cannot open shared object file"}};
    for (const auto& [initialize, started, error, message] : failures) {
        std::tie(engine.initializeResult, engine.startResult, engine.startErrno) =
            std::tie(initialize, started, error);
        start();
        controller.stopRecording();
        EXPECT_EQ(std::exchange(messages, {}), QStringList{message});
        EXPECT_EQ(notifier.sent,
                  Texts{"Recording Default did not start | " + message.toStdString()});
        notifier.sent.clear();
        EXPECT_EQ(shown(), "Idle #0000ff");
        EXPECT_TRUE(!controller.isRecording() && !blink.isActive() && !meterPoll.isActive());
        Texts calls{"engine wanted", "source", "setSource speakers.monitor", "initialize",
                    "startMonitor"};
        calls.resize(initialize == 0 ? 5 : 4); // and never stopMonitor
        calls.push_back("start failed");       // monitoring may have the engine back
        EXPECT_EQ(std::exchange(engine.calls, {}), calls);
        EXPECT_TRUE(launcher.launches.empty()) << "no encoder, no webcast for nothing";
        EXPECT_TRUE(QDir(data + "/soundfiles").isEmpty()) << "no empty file left behind";
        EXPECT_TRUE(inhibitor.log.empty());
    }

    // The folder itself is gone: the engine is not even asked.
    engine.initializeResult = engine.startResult = 0;
    QDir(data + "/soundfiles").removeRecursively();
    start();
    EXPECT_EQ(messages, QStringList{"Cannot create the recording file " + path +
                                    ": No such file or directory"});
    EXPECT_EQ(engine.calls, (Texts{"engine wanted", "source", "start failed"}));
    EXPECT_FALSE(controller.isRecording());
}

// The sound server away across a scheduled start (restarting, or not there yet when the
// mixer started): the start is tried again until it takes or the show's stop passes.
TEST_F(RecordingControllerTest, AScheduledStartWhileTheServerIsAwayIsTriedUntilItTakesOrItsStop) {
    enum class Then { ServerBack, StopPasses, StoppedByHand };
    struct Case {
        const char* what;
        bool mixerStarted; // false: the engine is not even asked
        Then then;
        Texts told; // after the first try's notice
        std::string line;
    };
    const Case cases[] = {
        {"back 6 s after the start",
         true,
         Then::ServerBack,
         {"Recording Default started 6 s late: the sound server was away | From Microphone into "
          "soundfiles/Default-03-05-04-21-07-15.wav"},
         "Rec: Microphone (started 6 s late)"},
        {"no mixer yet, then back",
         false,
         Then::ServerBack,
         {"Recording Default started 6 s late: the sound server was away | From Microphone into "
          "soundfiles/Default-03-05-04-21-07-15.wav"},
         "Rec: Microphone (started 6 s late)"},
        {"away until the stop",
         true,
         Then::StopPasses,
         {"Recording Default did not start | The sound server was away until its stop."},
         "Recording Default did not start: the sound server was away until its stop"},
        {"Stop pressed meanwhile",
         true,
         Then::StoppedByHand,
         {"Recording Default did not start | Stopped while waiting for the sound server."},
         "Recording Default did not start: stopped while waiting for the sound server"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        now = QDateTime(QDate(2004, 3, 5), QTime(21, 7, 9));
        notifier.sent.clear();
        engine.calls.clear();
        sources.mixerStarted = c.mixerStarted;
        engine.startResult = KELVO_ERR_OPEN_DEVICE;
        startScheduled(60);
        EXPECT_FALSE(controller.isRecording());
        ASSERT_NE(controller.retryingShow(), nullptr);
        EXPECT_EQ(statusText(), "Recording Default did not start: trying again every 2 s");
        EXPECT_EQ(notifier.sent,
                  Texts{"Recording Default did not start: the sound server is "
                        "away | Trying again every 2 s until its stop at 21:08:09."});
        EXPECT_EQ(engine.calls.back(), "start failed");
        now = now.addSecs(2);
        controller.retryStart();
        EXPECT_EQ(notifier.sent.size(), 1u) << "told once";
        notifier.sent.clear();
        switch (c.then) {
        case Then::ServerBack:
            now = now.addSecs(4);
            sources.mixerStarted = true;
            engine.startResult = 0;
            controller.retryStart();
            break;
        case Then::StopPasses:
            now = now.addSecs(58);
            controller.retryStart();
            break;
        case Then::StoppedByHand:
            controller.stopRecording();
            break;
        }
        EXPECT_EQ(notifier.sent, c.told);
        EXPECT_EQ(statusText(), c.line);
        EXPECT_EQ(controller.retryingShow(), nullptr);
        EXPECT_TRUE(messages.isEmpty()) << "no box waits for a user who is not there";
        EXPECT_EQ(engine.starts.empty(), !c.mixerStarted && c.then != Then::ServerBack);
        if (c.then == Then::ServerBack) {
            const RecordingSession& session = *controller.session();
            EXPECT_EQ(session.lateSeconds, 6) << "the report adds it to the schedule's lateness";
            EXPECT_EQ(session.secondsAsked, 60);
            ASSERT_EQ(session.events.size(), 1u);
            EXPECT_EQ(session.events[0].kind, RecordingEventKind::StartedLate);
            EXPECT_EQ(session.events[0].seconds, 6);
            controller.stopRecording();
        } else {
            now = now.addSecs(10);
            controller.retryStart();
            EXPECT_FALSE(controller.isRecording()) << "no try after the end";
        }
        engine.starts.clear();
        QDir(data + "/soundfiles").removeRecursively();
        QDir(data).mkdir("soundfiles");
    }
}

// Nobody may be there to answer a box: a refused address is told and the show still records.
TEST_F(RecordingControllerTest, ARefusedWebcastAddressRecordsWithoutOneAndSaysSoWithoutABox) {
    settings().webcastAddress = "file:///tmp/x/evil.desktop";
    startScheduled(3600);
    EXPECT_TRUE(controller.isRecording());
    EXPECT_EQ(statusText(), "Rec: Microphone (webcast address not opened)");
    ASSERT_EQ(notifier.sent.size(), 2u);
    EXPECT_EQ(notifier.sent[1].rfind("Recording Default: webcast address not opened | The "
                                     "webcast address \"file:///tmp/x/evil.desktop\" is not "
                                     "opened: it is a file on this computer.",
                                     0),
              0u)
        << notifier.sent[1];
    EXPECT_TRUE(messages.isEmpty() && launcher.launches.empty());
    EXPECT_EQ(controller.session()->webcastAddress, "");
    controller.stopRecording();

    settings().webcastAddress = " Radio.example.com/live ";
    start();
    EXPECT_EQ(statusText(), "Rec WebCast: Microphone");
    EXPECT_EQ(launcher.launches,
              (std::vector<Texts>{{"xdg-open", "http://Radio.example.com/live", ""}}));
}

// A show set to record its stream: the engine records it, with no browser and no source; a
// stream that cannot be had is told; a page, or an engine without streams, is recorded the
// way a webcast always was.
TEST_F(RecordingControllerTest, AStreamShowRecordsTheStreamItselfOrSaysWhyNot) {
    const std::string url = "http://radio.example/live";
    const std::string file = "soundfiles/Default-03-05-04-21-07-09.wav";
    settings().webcastAddress = url;
    setWebcastSettings(show.settings.side, {true, true, 0});
    engine.statusValue = KelvoStatus{};
    startScheduled(3600);
    ASSERT_TRUE(answered());
    EXPECT_EQ(std::exchange(engine.calls, {}),
              (Texts{"engine wanted", "keepStreamCopy 1", "setStream " + url, "initialize",
                     "startMonitor"}))
        << "no source chosen or changed";
    EXPECT_EQ(statusText(), "Rec Stream: " + url);
    EXPECT_TRUE(launcher.launches.empty()) << "no browser";
    const auto poll = [this](int device, std::uint32_t gaps) {
        engine.statusValue->deviceState = device;
        engine.statusValue->gaps = gaps;
        engine.statusValue->lastGapFrames = 44100;
        controller.pollStatus();
        return std::exchange(notifier.sent, {});
    };
    EXPECT_EQ(poll(KELVO_DEVICE_CAPTURING, 0),
              Texts{"Recording Default | From " + url + " into " + file});
    EXPECT_EQ(poll(KELVO_DEVICE_RECONNECTING, 1),
              Texts{"Recording Default: stream lost | Silence is recorded until it is back."});
    EXPECT_EQ(statusText(), "Rec Stream: " + url + " (reconnecting)");
    EXPECT_EQ(poll(KELVO_DEVICE_CAPTURING, 1),
              Texts{"Recording Default: stream back | Gap of 1.0 s filled with silence."});
    controller.stopRecording();
    EXPECT_EQ(std::vector(engine.calls.begin(), engine.calls.begin() + 2),
              (Texts{"stopMonitor", "setStream "}))
        << "monitoring and the next show record their sources again";
    notifier.sent.clear();

    const std::string notStarted = "Recording Default did not start";
    const std::string usual = "It is recorded as without \"Record the stream itself\": opened "
                              "in the browser, recording Microphone.";
    const std::tuple<int, int, std::string, Texts> answers[] = {
        {0,
         KELVO_ERR_STREAM_UNREACHABLE,
         notStarted + ": the stream " + url + " cannot be reached",
         {notStarted + " | the stream " + url + " cannot be reached"}},
        {0,
         KELVO_ERR_STREAM_REFUSED,
         notStarted + ": the server of the stream " + url +
             " answered with an error (is the address right?)",
         {notStarted + " | the server of the stream " + url +
          " answered with an error (is the address right?)"}},
        {0,
         KELVO_ERR_STREAM_NOT_AUDIO,
         "Rec WebCast: Microphone (not a stream: opened in the browser)",
         {"Recording Default | From Microphone into " + file,
          "Recording Default: " + url + " is a web page, not an audio stream | " + usual}},
        {CaptureEngine::kStreamUnsupported,
         0,
         "Rec WebCast: Microphone (not a stream: opened in the browser)",
         {"Recording Default | From Microphone into " + file,
          "Recording Default: this capture engine cannot record streams | " + usual}},
    };
    for (const auto& [setResult, startResult, line, sent] : answers) {
        std::tie(engine.setStreamResult, engine.streamStartResult) =
            std::tie(setResult, startResult);
        QDir(data + "/soundfiles").removeRecursively();
        QDir(data).mkdir("soundfiles");
        engine.calls.clear();
        launcher.launches.clear();
        startScheduled(3600);
        ASSERT_TRUE(answered());
        EXPECT_EQ(statusText(), line);
        EXPECT_EQ(std::exchange(notifier.sent, {}), sent) << line;
        const bool fellBack = controller.isRecording();
        EXPECT_EQ(std::count(engine.calls.begin(), engine.calls.end(), "source"), fellBack ? 1 : 0);
        EXPECT_EQ(launcher.launches.size(), fellBack ? 1u : 0u) << "the page goes to the browser";
        EXPECT_EQ(engine.stream, "") << "never left set for what comes next";
        EXPECT_EQ(QDir(data + "/soundfiles").isEmpty(), !fellBack);
        EXPECT_EQ(std::exchange(messages, {}).size(), fellBack ? 0 : 1);
        controller.stopRecording();
        notifier.sent.clear();
    }
}

// A stream's connection may take seconds: the window goes on meanwhile, the show it started
// with is the one recorded, and a Stop before the answer leaves nothing behind, even when
// the connection is made regardless.
TEST_F(RecordingControllerTest, AStreamConnectsWhileTheWindowGoesOnAndAStopMeanwhileLeavesNothing) {
    const std::string url = "http://radio.example/live";
    settings().webcastAddress = url;
    setWebcastSettings(show.settings.side, {true, true, 0});
    engine.holdStreams = engine.createFiles = true;
    const QString stem = data + "/soundfiles/Default-03-05-04-21-07-09";
    const std::string connecting = "Recording Default: connecting to " + url + "\u2026";
    const std::string notStarted = "Recording Default did not start";
    enum class Then { Connects, Unreachable, Stop, StopTime, StopButConnects };
    struct Case {
        const char* what;
        Then then;
        std::string line;
        Texts told;
    };
    const Case cases[] = {
        {"connected 7 s later",
         Then::Connects,
         "Rec Stream: " + url,
         {"Recording Default | From " + url + " into soundfiles/Default-03-05-04-21-07-09.wav"}},
        {"not reachable",
         Then::Unreachable,
         notStarted + ": the stream " + url + " cannot be reached",
         {notStarted + " | the stream " + url + " cannot be reached"}},
        {"Stop pressed",
         Then::Stop,
         notStarted + ": stopped while connecting to " + url,
         {notStarted + " | Stopped while connecting to " + url + "."}},
        {"the show's stop",
         Then::StopTime,
         notStarted + ": its stop came while connecting to " + url,
         {notStarted + " | Its stop came while connecting to " + url + "."}},
        {"Stop pressed, and the engine connects anyway",
         Then::StopButConnects,
         notStarted + ": stopped while connecting to " + url,
         {notStarted + " | Stopped while connecting to " + url + "."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ShowSnapshot started = show;
        QFile earlier(stem + ".mp3"); // an earlier recording's copy, which a cancel keeps
        earlier.open(QIODevice::WriteOnly);
        earlier.close();
        engine.streamStartResult = c.then == Then::Unreachable ? KELVO_ERR_STREAM_UNREACHABLE : 0;
        startScheduled(3600);
        ASSERT_TRUE(engine.waitForHeld());
        EXPECT_EQ(statusText(), connecting);
        ASSERT_NE(controller.connectingShow(), nullptr);
        // The window's timers go on, and neither a second start nor a show switch reaches
        // the engine or the start under way.
        int ticks = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
        tick.start(5);
        EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; }, kEventuallyMs));
        show.name = show.readableName = "Other";
        start();
        EXPECT_EQ(engine.starts.size(), 1u);
        now = now.addSecs(7);
        switch (c.then) {
        case Then::Connects:
        case Then::Unreachable:
            engine.release();
            break;
        case Then::Stop:
            controller.stopRecording();
            break;
        case Then::StopTime:
            controller.stopRecording(RecordingEnd::StopTime);
            break;
        case Then::StopButConnects:
            engine.cancelReaches = false; // an engine from before cancelling
            controller.stopRecording();
            engine.cancelReaches = true;
            QFile(stem + ".cue").open(QIODevice::WriteOnly); // a title came meanwhile
            engine.release();
            break;
        }
        EXPECT_TRUE(QTest::qWaitFor(
            [this] { return engine.calls.back() == "start failed" || controller.isRecording(); },
            kEventuallyMs));
        EXPECT_EQ(statusText(), c.line);
        EXPECT_EQ(std::exchange(notifier.sent, {}), c.told);
        const bool recording = c.then == Then::Connects;
        EXPECT_EQ(controller.isRecording(), recording);
        EXPECT_EQ(blink.isActive() && meterPoll.isActive(), recording);
        EXPECT_EQ(std::count(engine.calls.begin(), engine.calls.end(), "cancelStart") > 0,
                  !recording && c.then != Then::Unreachable);
        EXPECT_EQ(std::count(engine.calls.begin(), engine.calls.end(), "stopMonitor"),
                  c.then == Then::StopButConnects ? 1 : 0);
        QStringList left{"Default-03-05-04-21-07-09.mp3"};
        if (recording) {
            left << "Default-03-05-04-21-07-09.wav";
        }
        EXPECT_EQ(recordings(), left);
        if (recording) {
            const RecordingSession& session = *controller.session();
            EXPECT_EQ(session.show.name, started.name) << "the show as it was at the start";
            EXPECT_EQ(session.startedAt, now) << "its time starts with the connection";
            EXPECT_EQ(session.secondsAsked, 3600);
            EXPECT_EQ(session.lateSeconds, 0);
            controller.stopRecording();
        }
        EXPECT_EQ(engine.stream, "") << "never left set for what comes next";
        EXPECT_EQ(std::exchange(messages, {}).size(), c.then == Then::Unreachable ? 1 : 0);
        show = started;
        now = now.addSecs(-7);
        engine.calls.clear();
        engine.starts.clear();
        notifier.sent.clear();
        QDir(data + "/soundfiles").removeRecursively();
        QDir(data).mkdir("soundfiles");
    }

    // The next show's start while a stopped connection has not given up yet (a name lookup
    // cannot be cut short) waits for it rather than be lost.
    engine.cancelReaches = false;
    startScheduled(3600);
    ASSERT_TRUE(engine.waitForHeld());
    controller.stopRecording(RecordingEnd::StopTime);
    std::thread lookupEnds([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        engine.release();
    });
    ShowSnapshot next = show;
    next.name = next.readableName = "Next";
    setWebcastSettings(next.settings.side, {false, false, 0});
    controller.startScheduledRecording(next, 60);
    lookupEnds.join();
    ASSERT_TRUE(controller.isRecording());
    EXPECT_EQ(controller.session()->show.name, "Next");
    controller.stopRecording();
    engine.cancelReaches = true;
    engine.calls.clear();
    QDir(data + "/soundfiles").removeRecursively();
    QDir(data).mkdir("soundfiles");

    // The program ends while connecting: the connection is given up, nothing is kept.
    {
        RecordingController leaving{engine,
                                    launcher,
                                    {&status, &clock, &blink},
                                    &sources,
                                    [](const QString&) {},
                                    [this] { return now; },
                                    RecordingSetup{data, {dataText}, nullptr, nullptr, {}}};
        leaving.startRecording(show);
        ASSERT_TRUE(engine.waitForHeld());
    }
    EXPECT_GE(std::count(engine.calls.begin(), engine.calls.end(), "cancelStart"), 1);
    EXPECT_TRUE(recordings().isEmpty());
}

// What a look at an address suggests: audio itself, or a playlist of exactly one stream.
TEST(StreamProbe, AudioAndPlaylistsOfOneStreamAreStreamsPagesAndOthersAreNot) {
    const std::tuple<const char*, const char*, StreamKind> answers[] = {
        {"audio/mpeg", "", StreamKind::Stream},
        {"audio/aacp; charset=x", "", StreamKind::Stream},
        {"application/ogg", "", StreamKind::Stream},
        {"application/vnd.apple.mpegurl", "#EXTM3U", StreamKind::Stream},
        {"audio/x-mpegurl", "#EXTM3U\n#EXTINF:-1,x\nhttp://a/live\n", StreamKind::PlaylistOfOne},
        {"audio/x-mpegurl", "http://a/1\nhttp://a/2\n", StreamKind::Other},
        {"audio/x-mpegurl", "/home/me/file.mp3\n", StreamKind::Other},
        {"audio/x-scpls", "[playlist]\nFile1=https://a/live\n", StreamKind::PlaylistOfOne},
        {"application/xspf+xml", "<location>http://a/live</location>", StreamKind::PlaylistOfOne},
        {"text/html", "<audio src=\"http://a/live\">", StreamKind::Other},
        {"", "", StreamKind::Other},
    };
    for (const auto& [type, body, kind] : answers) {
        EXPECT_EQ(streamKindOf(type, body), kind) << type << " " << body;
    }
}

TEST_F(RecordingControllerTest, EngineStatusDrivesTheLineTheNotificationsAndAStopOnAWriteError) {
    settings().outputFormat = formats::kMp3.toStdString();
    const auto poll = [this](int device, std::uint32_t gaps, std::uint64_t gapFrames,
                             int writeError = 0) {
        KelvoStatus s{};
        s.deviceState = device;
        s.lastWriteError = writeError;
        s.bytesWritten = 176400 * 75;
        s.gaps = gaps;
        s.parts = 1;
        s.lastGapFrames = gapFrames;
        engine.statusValue = s;
        controller.pollStatus();
    };
    const std::string file = "soundfiles/Default-03-05-04-21-07-09.wav";
    const std::string lost =
        "Recording Default: sound device lost | Silence is recorded until it is back.";
    const std::string back = "Recording Default: sound device back | Gap of ";
    engine.statusValue = KelvoStatus{};
    startScheduled(3600);
    EXPECT_EQ(inhibitor.log, Texts{"hold Recording Default"});
    engine.calls.clear();

    constexpr int kOn = KELVO_DEVICE_CAPTURING, kAway = KELVO_DEVICE_RECONNECTING;
    // The device's story, poll by poll: the line, and what the user was sent.
    const std::tuple<int, std::uint32_t, std::uint64_t, const char*, Texts> polls[] = {
        {kOn, 0, 0, "", {"Recording Default | From Microphone into " + file}},
        {kAway, 1, 22050, " (reconnecting)", {lost}},
        {kAway, 1, 44100, " (reconnecting)", {}},
        {kOn, 1, 66150, " (gap 1.5 s)", {back + "1.5 s filled with silence."}},
        {kOn, 1, 66150, " (gap 1.5 s)", {}},
        // A gap that opened and closed between two polls is still told, but as a gap: the
        // device may never have gone (a stalled machine).
        {kOn,
         2,
         4410,
         " (gap 0.1 s)",
         {"Recording Default: gap in the recording | Gap of 0.1 s filled with silence."}},
        {KELVO_DEVICE_SOURCE_MISSING, 3, 100, " (not there)", {lost}},
        {kOn, 3, 4410, " (gap 0.1 s)", {back + "0.1 s filled with silence."}},
    };
    for (const auto& [device, gaps, frames, line, sent] : polls) {
        poll(device, gaps, frames);
        EXPECT_EQ(statusText(), std::string("Rec: Microphone") + line);
        EXPECT_EQ(std::exchange(notifier.sent, {}), sent) << line;
    }
    EXPECT_EQ(std::count(engine.calls.begin(), engine.calls.end(), "source"), 0)
        << "the engine reopens the chosen source itself: nothing is applied again";

    controller.togglePause();
    poll(KELVO_DEVICE_RECONNECTING, 4, 100);
    EXPECT_EQ(statusText(), "Paused: Microphone");
    controller.togglePause();
    EXPECT_EQ(statusText(), "Rec: Microphone (reconnecting)");
    EXPECT_EQ(std::exchange(notifier.sent, {}), Texts{lost}) << "a second loss is told as well";

    poll(KELVO_DEVICE_RECONNECTING, 4, 100, ENOSPC);
    EXPECT_FALSE(controller.isRecording());
    EXPECT_EQ(shown(), "Stopped: disk full (soundfiles) #0000ff");
    EXPECT_EQ(std::count(engine.calls.begin(), engine.calls.end(), "stopMonitor"), 1);
    EXPECT_EQ(notifier.sent, Texts{"Recording Default stopped: disk full | " + file +
                                   " kept, 0:01:15 recorded; no MP3 made."});
    EXPECT_TRUE(launcher.launches.empty()) << "a file cut short is not encoded";
    EXPECT_EQ(inhibitor.log, (Texts{"hold Recording Default", "release"}));
}

TEST_F(RecordingControllerTest, TwoStartsInOneSecondKeepBothFilesAndEveryPartIsEncodedInTurn) {
    settings().outputFormat = formats::kMp3.toStdString();
    QFile earlier(data + "/soundfiles/Default-03-05-04-21-07-09.wav");
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("RIFF of an earlier recording");
    earlier.close();

    // No status from this engine: one part, its length from the clock.
    start();
    now = now.addSecs(30);
    controller.stopRecording();
    // The second recording reports three parts.
    KelvoStatus split{};
    split.parts = 3;
    engine.statusValue = split;
    now = now.addSecs(-30);
    start();
    controller.stopRecording();

    const std::string base = dataText + "/soundfiles/Default-03-05-04-21-07-09";
    EXPECT_EQ(engine.starts,
              (Texts{"1,2,44100," + base + "-2.wav", "1,2,44100," + base + "-3.wav"}));
    earlier.open(QIODevice::ReadOnly);
    EXPECT_EQ(earlier.readAll(), "RIFF of an earlier recording");
    EXPECT_EQ(notifier.sent.front(), "Recording Default ended: 0:00:30, all well | "
                                     "soundfiles/Default-03-05-04-21-07-09-2.wav, 0:00:30");
    EXPECT_EQ(notifier.sent.back(), "Recording Default ended: 0:00:00, all well | "
                                    "soundfiles/Default-03-05-04-21-07-09-3.wav"
                                    " and 2 more parts, 0:00:00");

    // Each recording's parts in turn, the next once the one before has ended; the second
    // recording does not wait for the first.
    const std::string rel = "soundfiles/Default-03-05-04-21-07-09";
    ASSERT_EQ(launcher.launches.size(), 2u);
    EXPECT_EQ(launcher.launches[0].at(2), rel + "-2.wav");
    EXPECT_EQ(launcher.launches[1].at(2), rel + "-3.wav");
    for (const char* wav : {"-3-2.wav", "-3-3.wav"}) {
        const std::size_t launched = launcher.launches.size();
        launcher.end(launched - 1);
        EVENTUALLY_EQ(launcher.launches.size(), launched + 1);
        EXPECT_EQ(launcher.launches.back().at(2), rel + wav);
    }
}

TEST(EncoderOutcome, EachPartIsJudgedToldAndWrittenIntoTheReport) {
    testing::ControllerRig<testing::FakeNotifier, testing::FakeInhibitor> rig(1);
    rig.settings().outputFormat = formats::kMp3.toStdString();
    KelvoStatus split{};
    split.parts = 4;
    rig.engine.statusValue = split;
    rig.start();
    rig.controller.stopRecording();
    const QString base = rig.data + "/soundfiles/Default-03-05-04-21-07-09";
    const QString report = base + ".wav.json";
    const auto mp3 = [&](const QString& part, const char* content) {
        QFile file(base + part + ".wav.mp3");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    };
    const std::string notMade = "MP3 of Default not made: encoder.bat ";
    // Per part: the MP3 it leaves, its exit code, what is told about it.
    const std::tuple<const char*, const char*, int, std::string> parts[] = {
        {"", "ID3 an MP3", 0, ""},
        {"-2", "ID3 half an MP3", 3, notMade + "exited with 3; the WAV is kept"},
        {"-3", "", 0, notMade + "made no MP3; the WAV is kept"},
    };
    std::size_t index = 0;
    for (const auto& [part, content, exitCode, told] : parts) {
        EVENTUALLY_EQ(rig.launcher.launches.size(), index + 1);
        mp3(part, content);
        rig.notifier.sent.clear();
        rig.launcher.end(index++, exitCode);
        const std::string file =
            "soundfiles/Default-03-05-04-21-07-09" + std::string(part) + ".wav";
        EVENTUALLY_EQ(rig.notifier.sent, told.empty() ? Texts{} : Texts{told + " | " + file});
        if (!told.empty()) {
            EXPECT_EQ(rig.status.text().toStdString(), told);
        }
    }
    // The last one hangs: told once, and left running.
    rig.notifier.sent.clear();
    EVENTUALLY_EQ_WITHIN(rig.notifier.sent.size(), 1u, 5000);
    EXPECT_EQ(rig.notifier.sent.back(), "MP3 of Default still being made after 0:00:01 | "
                                        "soundfiles/Default-03-05-04-21-07-09-4.wav");
    QTest::qWait(1500);
    EXPECT_EQ(rig.notifier.sent.size(), 1u) << "a slow encoder is told once";

    const auto results = [&] {
        std::vector<std::pair<EncoderState, std::optional<int>>> seen;
        for (const ReportPart& part : readReport(report).value_or(RecordingReport{}).parts) {
            seen.emplace_back(part.encoder, part.exitCode);
        }
        return seen;
    };
    using Seen = std::vector<std::pair<EncoderState, std::optional<int>>>;
    EXPECT_EQ(results(), (Seen{{EncoderState::Made, 0},
                               {EncoderState::Failed, 3},
                               {EncoderState::Failed, 0},
                               {EncoderState::StillRunning, std::nullopt}}));
    EXPECT_EQ(verdictFindings(*readReport(report)), "2 of 4 MP3s not made");
    mp3("-4", "ID3 at last");
    rig.launcher.end(3);
    EVENTUALLY_EQ(results().back().first, EncoderState::Made);
}

TEST_F(RecordingControllerTest, RoomOnTheDiskIsJudgedAtStartAndWarnedOnceWhileRecording) {
    constexpr std::uint64_t perMinute = 176400 * 60;
    // Started by the schedule for how long, the free bytes, and the minutes warned of (0: none).
    const std::tuple<bool, std::int64_t, std::optional<std::uint64_t>, int> cases[] = {
        {false, 0, perMinute * 12 + 5, 12}, {false, 0, perMinute * 60, 0}, // an hour by hand fits
        {true, 600, perMinute * 12, 0},                                  // up to the scheduled stop
        {true, 7200, perMinute * 90, 90},   {false, 0, std::nullopt, 0}, // unknown: nothing to say
    };
    for (const auto& [scheduled, seconds, free, minutes] : cases) {
        freeBytes = free;
        scheduled ? startScheduled(seconds) : start();
        const std::string file = controller.session()->fileName.toStdString();
        const std::string left = std::to_string(minutes) + " min of space left";
        EXPECT_EQ(statusText(), "Rec: Microphone" + (minutes ? " (only " + left + ")" : ""));
        Texts want;
        if (scheduled) {
            want.push_back("Recording Default | From Microphone into " + file);
        }
        if (minutes) {
            want.push_back("Only " + left + " for Default | Recording goes on into " + file);
        }
        EXPECT_EQ(std::exchange(notifier.sent, {}), want) << minutes;
        controller.stopRecording();
        notifier.sent.clear();
        now = now.addSecs(1);
    }

    // While recording: one warning when less than five minutes are left, not one a second.
    freeBytes = perMinute * 60;
    start();
    freeBytes = perMinute * 4 + 7;
    controller.pollStatus();
    controller.pollStatus();
    EXPECT_EQ(statusText(), "Rec: Microphone (only 4 min of space left)");
    EXPECT_EQ(notifier.sent.size(), 1u);
}

TEST_F(RecordingControllerTest, SleepIsHeldFromJustBeforeAScheduledStartUntilItsStop) {
    controller.keepAwakeForSchedule("Evening");
    controller.keepAwakeForSchedule("Evening");
    EXPECT_EQ(inhibitor.log, Texts{"hold Recording Evening soon"});
    controller.keepAwakeForSchedule("");
    controller.keepAwakeForSchedule("Default");
    startScheduled(60); // the start keeps the hold already taken
    controller.keepAwakeForSchedule("");
    EXPECT_TRUE(inhibitor.held) << "the recording holds its own";
    controller.stopRecording();
    EXPECT_EQ(inhibitor.log, (Texts{"hold Recording Evening soon", "release",
                                    "hold Recording Default soon", "release"}));
}

TEST_F(RecordingControllerTest, AShowNameTooLongForAFileNameIsCutAndStillRecords) {
    // 2-byte and 4-byte characters, so a cut in the middle of one would show.
    const QString longNames[] = {QString(300, QChar(0xe9)),
                                 QString(200, 'a') +
                                     QString::fromUtf8("\xF0\x9F\x8E\xB5").repeated(20)};
    for (const QString& longName : longNames) {
        show.name = show.readableName = longName.toStdString();
        start();
        start();
        ASSERT_TRUE(controller.isRecording());
        const QString name = controller.session()->fileName.section('/', 1);
        const QByteArray bytes = QFile::encodeName(name);
        EXPECT_LE(bytes.size(), kMaxRecordingNameBytes - kSuffixRoomBytes);
        EXPECT_GT(bytes.size(), kMaxRecordingNameBytes - kSuffixRoomBytes - 4);
        EXPECT_TRUE(longName.startsWith(name.section('-', 0, 0)))
            << "cut only at a whole character";
        EXPECT_TRUE(name.endsWith("-03-05-04-21-07-09.wav"));
        EXPECT_TRUE(QFile::exists(controller.session()->filePath));
        controller.stopRecording();
    }
    EXPECT_TRUE(messages.isEmpty());
}

TEST(FormatLists, LowSampleRateForcesWavAndLocksTheFormatLists) {
    QComboBox sampleRate, outputFormat, mp3Quality, wmaQuality;
    sampleRate.addItems(sampleRateEntries());
    outputFormat.addItems(outputFormatEntries());
    mp3Quality.addItems(mp3QualityEntries());
    outputFormat.addItem(formats::kWma);
    const auto on = [](const QComboBox& list) { return list.isEnabled() ? '1' : '0'; };
    // A choice, then: the output format and whether it, the MP3 and the WMA list are usable.
    const std::tuple<QComboBox*, QString, std::string> steps[] = {
        {&outputFormat, formats::kMp3, "Windows Wave (WAV) 000"}, // at 8 kHz
        {&sampleRate, "32 kHz", "Windows Wave (WAV) 100"},        // MP3 waits to be chosen again
        {&outputFormat, formats::kMp3, "MPEG Layer 3 (MP3) 110"},
        {&sampleRate, "22 kHz", "Windows Wave (WAV) 000"},
        {&sampleRate, "32 kHz", "Windows Wave (WAV) 100"},
        {&outputFormat, formats::kWma, "Windows Media (WMA) 101"}};
    for (const auto& [list, choice, expected] : steps) {
        list->setCurrentText(choice);
        updateFormatDependentLists({&sampleRate, &outputFormat, &mp3Quality, &wmaQuality});
        EXPECT_EQ(outputFormat.currentText().toStdString() + " " + on(outputFormat) +
                      on(mp3Quality) + on(wmaQuality),
                  expected);
    }
}

} // namespace
} // namespace kelvo
