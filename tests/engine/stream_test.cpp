// Stream capture's parts that need no server: which addresses and playlist entries are
// taken, the cue sheet, and what the engine makes of a stream device's answers and titles.
#include "engine/cue_sheet.h"
#include "engine/engine.h"
#include "engine/notification_queue.h"
#include "engine/playlist.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace kelvo::engine;

namespace {

std::string slurp(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct TempDir {
    fs::path path = fs::temp_directory_path() / ("kelvo-stream-" + std::to_string(::getpid()));
    TempDir() { fs::create_directories(path); }
    ~TempDir() { fs::remove_all(path); }
};

} // namespace

TEST(StreamAddress, OnlyHttpAndHttpsWithAHostAreTaken) {
    const struct {
        std::string address;
        bool taken;
    } cases[] = {
        {"http://radio.example/live", true},
        {"HTTPS://radio.example:8443/a.m3u8?x=1", true},
        {"http://user@radio.example/", true},
        {"file:///etc/passwd", false},
        {"javascript:alert(1)", false},
        {"data:audio/mpeg;base64,AAAA", false},
        {"/home/me/stream.mp3", false},
        {"radio.example/live", false}, // the recorder makes it http:// first
        {"http:///etc/passwd", false},
        {"http://", false},
        {"http://@/x", false},
        {"http://radio.example/a b", false},
        {"http://radio.example/\r\nHost: evil", false},
        {"-http://radio.example/", false},
        {"http://radio.example/" + std::string(5000, 'a'), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isNetworkAddress(c.address), c.taken) << c.address.substr(0, 60);
}

TEST(StreamPlaylist, TheFirstNetworkEntryOfEachKindRelativeOnesResolved) {
    const std::string base = "http://radio.example/lists/now.pls?id=3";
    const struct {
        const char* text;
        const char* entry;
    } cases[] = {
        {"[playlist]\nFile2=http://b.example/two\nFile1=http://a.example/one\n",
         "http://a.example/one"},
        {"[Playlist]\r\nFile1=file:///etc/passwd\r\nFile2=C:\\music\\a.mp3\r\nFile3=live.mp3\r\n",
         "http://radio.example/lists/live.mp3"},
        {"\xEF\xBB\xBF#EXTM3U\n#EXTINF:-1,Radio\n\n/stream\n", "http://radio.example/stream"},
        {"#EXTM3U\n//cdn.example/s.aac\n", "http://cdn.example/s.aac"},
        {"rtsp://radio.example/x\nhttps://radio.example/y\n", "https://radio.example/y"},
        {"<?xml version=\"1.0\"?><playlist><trackList><track><location>file:///x</location>"
         "</track><track><location>http://a.example/s?a=1&amp;b=2</location></track>"
         "</trackList></playlist>",
         "http://a.example/s?a=1&b=2"},
        {"<playlist><location>http://a.example/&#x2f;</location></playlist>", ""},
        {"[playlist]\nNumberOfEntries=0\n", ""},
        {"#EXTM3U\n# only comments\n", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(firstPlaylistEntry(c.text, base), c.entry) << c.text;

    EXPECT_TRUE(looksLikePlaylist("http://a.example/x.PLS?y=.mp3"));
    EXPECT_FALSE(looksLikePlaylist("http://a.example/x.m3u8"));
    EXPECT_TRUE(isHlsPlaylist("#EXTM3U\n#EXT-X-TARGETDURATION:6\nseg.ts\n"));
    EXPECT_FALSE(isHlsPlaylist("#EXTM3U\nhttp://a.example/live\n"));
}

TEST(CueSheet, TracksLandAtTheirFramesInTheirPartsWithTitlesItCanHold) {
    TempDir dir;
    CueSheet cue;
    ASSERT_TRUE(cue.prepare((dir.path / "show.wav").c_str()));
    EXPECT_FALSE(fs::exists(dir.path / "show.cue")) << "no titles, no sheet";
    cue.addTrack(1, 0, 44100, "Artist - \"Song\"\nnext line");
    cue.addTrack(1, 44100 * 61 + 44100 / 2, 44100, "Second");
    // A cut at the limit keeps whole UTF-8 characters.
    const std::string longTitle = std::string(254, 'x') + "\xC3\xA9";
    cue.addTrack(2, 8000 * 3, 8000, longTitle.c_str());
    cue.close();
    EXPECT_EQ(slurp(dir.path / "show.cue"), "FILE \"show.wav\" WAVE\n"
                                            "  TRACK 01 AUDIO\n"
                                            "    TITLE \"Artist - 'Song' next line\"\n"
                                            "    INDEX 01 00:00:00\n"
                                            "  TRACK 02 AUDIO\n"
                                            "    TITLE \"Second\"\n"
                                            "    INDEX 01 01:01:37\n"
                                            "FILE \"show-2.wav\" WAVE\n"
                                            "  TRACK 03 AUDIO\n"
                                            "    TITLE \"" +
                                                std::string(254, 'x') +
                                                "\"\n"
                                                "    INDEX 01 00:03:00\n");
}

namespace {

// A stream device that answers open with a given error, or delivers one buffer of silence
// whose 40th frame begins a title.
class StubStream final : public CaptureDevice {
public:
    explicit StubStream(int openError) : openError_(openError) {}
    int open(const CaptureFormat& f, NotificationQueue& q) override {
        if (openError_ != 0)
            return openError_;
        format_ = f;
        queue_ = &q;
        return 0;
    }
    int prepare(CaptureBuffer& b) override { return b.prepared = true, 0; }
    int addBuffer(CaptureBuffer& b) override {
        if (started_ || count_ == 2)
            return EINVAL; // one buffer's worth, then nothing more
        held_[count_++] = &b;
        return 0;
    }
    int start() override {
        started_ = true;
        CaptureBuffer& b = *held_[0];
        std::memset(b.data, 0, 100 * format_.blockAlign);
        b.bytesRecorded = 100 * format_.blockAlign;
        b.markFrame = 40;
        std::strcpy(b.markText, "Now playing");
        queue_->post({Notification::Data, &b});
        held_[0] = nullptr;
        return 0;
    }
    int reset() override {
        if (held_[1] != nullptr)
            queue_->post({Notification::Data, held_[1]});
        held_[1] = nullptr;
        return 0;
    }
    int unprepare(CaptureBuffer&) override { return 0; }
    int close() override { return 0; }

private:
    int openError_;
    CaptureFormat format_{};
    NotificationQueue* queue_ = nullptr;
    CaptureBuffer* held_[2] = {};
    int count_ = 0;
    bool started_ = false;
};

} // namespace

TEST(EngineStream, EachWayAStreamFailsHasItsStartCodeAndTitlesGoIntoTheCueSheet) {
    TempDir dir;
    int openError = 0;
    std::string address;
    Engine engine([](const std::string&) { return nullptr; },
                  [&](StreamSetup setup) -> StreamDevices {
                      address = setup.address;
                      return [&] { return std::make_unique<StubStream>(openError); };
                  });
    EXPECT_EQ(engine.setStream("file:///etc/passwd"), KELVO_ERR_STREAM_ADDRESS);
    ASSERT_EQ(engine.setStream("http://radio.example/live"), 0);
    const std::string wav = (dir.path / "take.wav").string();
    const struct {
        int device;
        int code;
    } failures[] = {{kStreamUnreachable, KELVO_ERR_STREAM_UNREACHABLE},
                    {kStreamRefused, KELVO_ERR_STREAM_REFUSED},
                    {kStreamNotAudio, KELVO_ERR_STREAM_NOT_AUDIO},
                    {EBUSY, KELVO_ERR_OPEN_DEVICE}};
    for (const auto& f : failures) {
        openError = f.device;
        EXPECT_EQ(engine.start(1, 2, 8000, wav.c_str()), f.code);
        EXPECT_FALSE(engine.running());
    }
    EXPECT_EQ(address, "http://radio.example/live");

    openError = 0;
    ASSERT_EQ(engine.start(1, 2, 8000, wav.c_str()), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(engine.stop(), 0);
    EXPECT_EQ(slurp(dir.path / "take.cue"), "FILE \"take.wav\" WAVE\n  TRACK 01 AUDIO\n"
                                            "    TITLE \"Now playing\"\n"
                                            "    INDEX 01 00:00:00\n");
    // Back to the sound source: the stream factory is not asked again.
    address.clear();
    ASSERT_EQ(engine.setStream(nullptr), 0);
    EXPECT_EQ(engine.start(1, 2, 8000, wav.c_str()), KELVO_ERR_OPEN_DEVICE);
    EXPECT_TRUE(address.empty());
}
