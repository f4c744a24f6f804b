// The engine library, loaded by name as the recorder loads it, and kelvo-rec, recording from
// a real Icecast (scripts/stream-server): its signal and level, a server killed and revived,
// HLS and playlists, answers that are no stream, the kept copy and the stream's titles.
#include "wav_reader.h"

#include "kelvo/kelvo.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kelvo::engine::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kServer = KELVO_SOURCE_DIR "/scripts/stream-server";
constexpr unsigned kRate = 44100;
// The server's signal: one second each of 300, 400, ... 1200 Hz, at half of full scale
// (-9.03 dBFS RMS), at the level each rendition carries once encoded.
double streamDb(const char* rendition = "KELVO_STREAM_MP3_DB") {
    const char* db = std::getenv(rendition);
    return db != nullptr ? std::atof(db) : 0;
}

struct Library {
    explicit Library(const char* path) : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
    template <typename F> F* symbol(const char* name) {
        return handle ? reinterpret_cast<F*>(dlsym(handle, name)) : nullptr;
    }
    void* handle;
    int (*initialize)() = symbol<int()>("KelvoInitialize");
    int (*start)(int, std::uint32_t, std::uint32_t, const char*) =
        symbol<int(int, std::uint32_t, std::uint32_t, const char*)>("KelvoStartMonitorA");
    int (*stop)() = symbol<int()>("KelvoStopMonitor");
    int (*status)(KelvoStatus*, size_t) = symbol<int(KelvoStatus*, size_t)>("KelvoGetStatus");
    int (*setStream)(const char*) = symbol<int(const char*)>("KelvoSetStreamA");
    int (*keepCopy)(int) = symbol<int(int)>("KelvoKeepStreamCopy");
    int (*cancelStart)() = symbol<int()>("KelvoCancelStart");
    bool complete() const {
        return initialize && start && stop && status && setStream && keepCopy && cancelStart;
    }
};

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

double sampleAt(const Wav& w, std::size_t i) {
    return static_cast<std::int16_t>(w.u16(44 + 4 * i)) / 32768.0;
}

double levelDb(const Wav& w, std::size_t from, std::size_t frames) {
    double sum = 0;
    for (std::size_t i = from; i < from + frames; ++i)
        sum += sampleAt(w, i) * sampleAt(w, i);
    return 10 * std::log10(sum / static_cast<double>(frames) + 1e-20);
}

// The signal's tone in the tenth of a second from `from`: its frequency when one of the
// signal's ten holds nearly all of the energy there, else 0.
int toneAt(const Wav& w, std::size_t from) {
    const std::size_t n = kRate / 10;
    double total = 0, best = 0;
    int bestHz = 0;
    for (std::size_t i = from; i < from + n; ++i)
        total += sampleAt(w, i) * sampleAt(w, i);
    for (int hz = 300; hz <= 1200; hz += 100) {
        // Goertzel: the energy at hz.
        const double k = 2 * std::cos(2 * M_PI * hz / kRate);
        double s1 = 0, s2 = 0;
        for (std::size_t i = from; i < from + n; ++i) {
            const double s0 = sampleAt(w, i) + k * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double energy = (s1 * s1 + s2 * s2 - k * s1 * s2) * 2 / static_cast<double>(n);
        if (energy > best)
            best = energy, bestHz = hz;
    }
    return total > 0 && best > 0.8 * total ? bestHz : 0;
}

// The file from `from` holds the signal: tenths of one tone each, stepping up 100 Hz (300
// after 1200) at the tone changes, only a tenth of mixed tones between.
void expectSignal(const Wav& w, std::size_t from, std::size_t to) {
    int last = 0, unclear = 0, steps = 0;
    for (std::size_t at = from; at + kRate / 10 <= to; at += kRate / 10) {
        const int hz = toneAt(w, at);
        if (hz == 0) {
            ++unclear;
            continue;
        }
        if (last != 0 && hz != last) {
            EXPECT_EQ(hz, last == 1200 ? 300 : last + 100) << "at " << at / double(kRate) << " s";
            ++steps;
        }
        last = hz;
    }
    const double seconds = static_cast<double>(to - from) / kRate;
    EXPECT_LE(unclear, seconds * 1.5) << "tenths that are no tone of the signal";
    EXPECT_GE(steps, seconds - 2);
}

// A private stream server for the whole program.
class EngineStream : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        FILE* p = ::popen((kServer + " start").c_str(), "r");
        char line[512];
        while (p != nullptr && std::fgets(line, sizeof line, p) != nullptr) {
            // export NAME=VALUE, one a line; the values hold no spaces.
            std::string text(line);
            const std::size_t eq = text.find('=');
            if (text.rfind("export ", 0) == 0 && eq != std::string::npos)
                ::setenv(text.substr(7, eq - 7).c_str(),
                         text.substr(eq + 1, text.find_last_not_of("\n") - eq).c_str(), 1);
        }
        started_ = p != nullptr && ::pclose(p) == 0;
    }
    static void TearDownTestSuite() { std::system((kServer + " stop").c_str()); }

    void SetUp() override {
        ASSERT_TRUE(started_) << "the stream server did not start";
        ASSERT_LT(streamDb(), -8) << "the server measured no level";
        ASSERT_TRUE(lib.complete()) << dlerror();
    }
    void TearDown() override {
        lib.stop();
        lib.setStream(nullptr);
        lib.keepCopy(0);
        for (const char* ext : {".wav", ".cue", ".mp3", "-ref.mp3"})
            std::remove((base + ext).c_str());
    }
    static std::string url() { return std::getenv("KELVO_STREAM_URL"); }
    static std::string web(const std::string& path) {
        return std::string(std::getenv("KELVO_STREAM_WEB")) + "/" + path;
    }
    static int server(const std::string& command) {
        return std::system((kServer + " " + command + " >/dev/null").c_str());
    }
    KelvoStatus status() {
        KelvoStatus s{};
        lib.status(&s, sizeof s);
        return s;
    }
    // Starts recording `address`; the time the start took.
    double start(const std::string& address) {
        lib.initialize();
        EXPECT_EQ(lib.setStream(address.c_str()), KELVO_OK);
        const auto began = Clock::now();
        EXPECT_EQ(lib.start(1, 2, kRate, wav().c_str()), KELVO_OK) << address;
        started = Clock::now();
        return secondsSince(began);
    }
    void until(double seconds) {
        std::this_thread::sleep_until(started + std::chrono::duration<double>(seconds));
    }
    // Stops; the file, and how long the recording ran.
    Wav stop(double* ran = nullptr) {
        const double seconds = secondsSince(started);
        const auto stopping = Clock::now();
        EXPECT_EQ(lib.stop(), KELVO_OK);
        stopSeconds = secondsSince(stopping);
        EXPECT_LT(stopSeconds, 0.5) << "a stop waits on the network";
        if (ran != nullptr)
            *ran = seconds;
        Wav w = readWav(wav());
        expectComplete(w, 2, kRate);
        return w;
    }
    std::string wav() const { return base + ".wav"; }

    static inline bool started_ = false;
    double stopSeconds = 0;
    Library lib{KELVO_LIBRARY};
    const std::string base = "/tmp/kelvo-stream-test-" + std::to_string(::getpid());
    Clock::time_point started;
};

TEST_F(EngineStream, RecordsTheStreamsSignalAtItsLevelFromTheFirstSecond) {
    const double starting = start(url());
    // When the stream's first audio reaches the file, by the engine's own count.
    double firstAudio = -1;
    while (secondsSince(started) < 12) {
        if (firstAudio < 0 && status().framesCaptured > 0)
            firstAudio = secondsSince(started);
        std::this_thread::sleep_for(5ms);
    }
    double ran = 0;
    const Wav w = stop(&ran);
    EXPECT_NEAR(static_cast<double>(w.frames()) / kRate, ran, 0.3);
    std::size_t first = 0;
    while (first < w.frames() && std::abs(sampleAt(w, first)) < 0.01)
        ++first;
    std::printf("start took %.0f ms; the first audio reached the engine %.0f ms later and "
                "is at %.0f ms of the file: %.0f ms from the call to the first stream audio; "
                "the stop took %.0f ms\n",
                starting * 1000, firstAudio * 1000, first * 1000.0 / kRate,
                (starting + first / double(kRate)) * 1000, stopSeconds * 1000);
    EXPECT_LT(starting, 2.5);
    for (std::size_t second = 0; second + 1 < w.frames() / kRate; ++second)
        EXPECT_NEAR(levelDb(w, second * kRate, kRate), streamDb(), 0.5) << "second " << second;
    expectSignal(w, 0, w.frames());
    const KelvoStatus s = status();
    EXPECT_EQ(s.gaps, 0u);
    EXPECT_EQ(s.framesCaptured, w.frames());
}

TEST_F(EngineStream, AServerKilledAndRevivedLeavesTheTimeAwayFilledAndCounted) {
    start(url());
    until(3);
    ASSERT_EQ(server("kill"), 0);
    until(5);
    ASSERT_EQ(server("revive"), 0);
    until(12);
    EXPECT_EQ(status().deviceState, KELVO_DEVICE_CAPTURING) << "the stream is not back";
    double ran = 0;
    const Wav w = stop(&ran);
    EXPECT_NEAR(static_cast<double>(w.frames()) / kRate, 12, 0.3);
    EXPECT_NEAR(static_cast<double>(w.frames()) / kRate, ran, 0.3);
    const KelvoStatus s = status();
    EXPECT_EQ(s.gaps, 1u);
    EXPECT_EQ(s.framesCaptured + s.framesFilled, w.frames());
    // The server was away two seconds at least, and back within the backoff.
    EXPECT_GT(s.framesFilled, 2 * kRate);
    EXPECT_LT(s.framesFilled, 8 * kRate);
    expectSignal(w, kRate / 2, 5 * kRate / 2);
    expectSignal(w, 10 * kRate, 12 * kRate - kRate / 5);
    EXPECT_NEAR(levelDb(w, 10 * kRate, kRate), streamDb(), 0.5);
}

TEST_F(EngineStream, AServerThatHangsHoldsUpNeitherAStopNorAStartForLong) {
    start(url());
    until(1);
    const std::string icecast =
        slurp(std::string(std::getenv("KELVO_STREAM_DIR")) + "/icecast.pid");
    ASSERT_EQ(std::system(("kill -STOP " + icecast).c_str()), 0);
    until(2);
    stop(); // within its bound, checked there
    ASSERT_EQ(std::system(("kill -CONT " + icecast).c_str()), 0);

    // A server that takes the connection and never answers: the start gives up in time.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    const std::string mute = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
    lib.initialize();
    ASSERT_EQ(lib.setStream(mute.c_str()), KELVO_OK);
    const auto began = Clock::now();
    EXPECT_EQ(lib.start(1, 2, kRate, wav().c_str()), KELVO_ERR_STREAM_UNREACHABLE);
    EXPECT_NEAR(secondsSince(began), 10, 3) << "the promised limit is 10 s";

    // Cancelled from another thread, the same start gives up at once; the next connects.
    std::thread canceller([this] {
        std::this_thread::sleep_for(500ms);
        lib.cancelStart();
    });
    const auto cancelled = Clock::now();
    EXPECT_EQ(lib.start(1, 2, kRate, wav().c_str()), KELVO_ERR_START_CANCELLED);
    canceller.join();
    const double cancelSeconds = secondsSince(cancelled);
    std::printf("a cancelled start returned %.0f ms after the cancel\n",
                (cancelSeconds - 0.5) * 1000);
    EXPECT_LT(cancelSeconds, 1.5) << "0.5 s before the cancel, and little after";
    ::close(listener);
    start(url());
    stop();
}

TEST_F(EngineStream, HlsAndEachKindOfPlaylistRecordTheSameSignal) {
    for (const char* path : {"hls/live.m3u8", "show.pls", "show.xspf", "nested.m3u"}) {
        SCOPED_TRACE(path);
        start(web(path));
        until(3);
        const Wav w = stop();
        ASSERT_GE(w.frames(), 2 * kRate);
        EXPECT_NEAR(levelDb(w, kRate / 2, kRate),
                    streamDb(path[0] == 'h' ? "KELVO_STREAM_AAC_DB" : "KELVO_STREAM_MP3_DB"), 0.5);
        expectSignal(w, kRate / 10, w.frames() - kRate / 10);
    }
}

TEST_F(EngineStream, EachAnswerThatIsNoStreamHasItsOwnOutcome) {
    EXPECT_EQ(lib.setStream("file:///etc/passwd"), KELVO_ERR_STREAM_ADDRESS);
    const std::string unreachable = "http://127.0.0.1:1/show";
    const struct {
        std::string address;
        int code;
    } cases[] = {{web("nothing.mp3"), KELVO_ERR_STREAM_REFUSED},
                 {web("page.html"), KELVO_ERR_STREAM_NOT_AUDIO},
                 {unreachable, KELVO_ERR_STREAM_UNREACHABLE}};
    for (const auto& c : cases) {
        lib.initialize();
        ASSERT_EQ(lib.setStream(c.address.c_str()), KELVO_OK);
        EXPECT_EQ(lib.start(1, 2, kRate, wav().c_str()), c.code) << c.address;
        EXPECT_NE(std::string(kelvo_strerror(c.code)), "unknown engine code");
        EXPECT_NE(::access(wav().c_str(), F_OK), 0) << "a file for a stream that is not there";
    }
    const std::string log = base + ".log";
    const int rc = std::system(
        (std::string(KELVO_REC) + " --url " + unreachable + " " + wav() + " 2>" + log).c_str());
    EXPECT_EQ(WEXITSTATUS(rc), 5);
    EXPECT_NE(slurp(log).find("cannot record " + unreachable + ": the stream could not be reached"),
              std::string::npos)
        << slurp(log);
    std::remove(log.c_str());
}

// An engine without its stream module says it cannot record streams, and records nothing.
TEST(EngineStreamModule, ItsAbsenceIsTold) {
    const std::string folder = "/tmp/kelvo-module-" + std::to_string(::getpid());
    ASSERT_EQ(
        std::system(
            ("mkdir -p " + folder + " && cp " KELVO_REC " " KELVO_LIBRARY " " + folder).c_str()),
        0);
    const int rc = std::system(("cd " + folder + " && ./kelvo-rec --url http://127.0.0.1:1/show " +
                                "--seconds 1 take.wav 2>err.txt")
                                   .c_str());
    EXPECT_EQ(WEXITSTATUS(rc), 1);
    EXPECT_NE(slurp(folder + "/err.txt").find("this engine cannot record streams"),
              std::string::npos)
        << slurp(folder + "/err.txt");
    EXPECT_NE(::access((folder + "/take.wav").c_str(), F_OK), 0);
    std::system(("rm -rf " + folder).c_str());
}

TEST_F(EngineStream, TheKeptCopyIsBitIdenticalToWhatFfmpegCopies) {
    lib.keepCopy(1);
    start(web("signal.mp3"));
    until(1);
    stop();
    const std::string reference = base + "-ref.mp3";
    ASSERT_EQ(std::system(
                  ("ffmpeg -nostdin -v error -y -i " + web("signal.mp3") + " -c copy " + reference)
                      .c_str()),
              0);
    const std::string kept = slurp(base + ".mp3"), copied = slurp(reference);
    EXPECT_GT(kept.size(), 100'000u);
    EXPECT_TRUE(kept == copied) << kept.size() << " bytes kept, " << copied.size()
                                << " copied by ffmpeg";
}

TEST_F(EngineStream, StreamTitlesLandInTheCueSheetWhereTheyBeganInTheFile) {
    ASSERT_EQ(server("title 'First'"), 0);
    start(url());
    double at[3] = {0, 0, 0};
    for (int i = 1; i < 3; ++i) {
        until(3.0 * i);
        ASSERT_EQ(server(i == 1 ? "title 'Second - with \"quotes\"'" : "title 'Third'"), 0);
        const KelvoStatus s = status();
        at[i] = static_cast<double>(s.framesCaptured + s.framesFilled) / kRate;
    }
    until(8);
    stop();
    const std::string cue = slurp(base + ".cue");
    // Each track: TITLE "..." then INDEX 01 mm:ss:ff.
    std::vector<std::pair<std::string, double>> tracks;
    for (std::size_t title = 0; (title = cue.find("TITLE \"", title)) != std::string::npos;) {
        const std::size_t end = cue.find("\"\n", title + 7);
        const std::size_t index = cue.find("INDEX 01 ", end);
        ASSERT_TRUE(end != std::string::npos && index != std::string::npos) << cue;
        unsigned m = 0, sec = 0, f = 0;
        ASSERT_EQ(std::sscanf(cue.c_str() + index, "INDEX 01 %u:%u:%u", &m, &sec, &f), 3) << cue;
        tracks.emplace_back(cue.substr(title + 7, end - title - 7), m * 60 + sec + f / 75.0);
        title = index;
    }
    ASSERT_EQ(tracks.size(), 3u) << cue;
    EXPECT_EQ(cue.rfind("FILE \"" + base.substr(5) + ".wav\" WAVE\n", 0), 0u) << cue;
    const char* titles[] = {"First", "Second - with 'quotes'", "Third"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(tracks[i].first, titles[i]);
        // From where the file stood when the title was set, to what is still on its way.
        EXPECT_GE(tracks[i].second, at[i] - 0.3) << titles[i];
        EXPECT_LE(tracks[i].second, at[i] + 1.0) << titles[i];
    }
}

} // namespace
