#include "engine/capture_stream.h"

#include "engine/capture_ring.h"
#include "engine/notification_queue.h"
#include "engine/playlist.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace kelvo::engine {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kConnectLimit = 10s; // to resolve playlists, connect and find the audio
constexpr auto kStallLimit = 10s;   // a connection that delivers nothing this long is lost
constexpr std::size_t kRingSeconds = 12;
constexpr auto kReleaseStep = 10ms;
constexpr auto kFirstBackoff = 250ms;
constexpr auto kLongestBackoff = 4s;
constexpr int kPlaylistDepth = 3; // a playlist of a playlist of a playlist, no deeper
// Only these protocols are ever opened, also by a redirect or an HLS playlist's entries.
constexpr const char* kProtocols = "http,https,tls,tcp,crypto";

// Time limit and stop request for every network wait, polled by FFmpeg.
struct Interrupt {
    std::atomic<bool>* quit = nullptr;
    const std::atomic<bool>* abandon = nullptr; // only while the first connection is made
    std::atomic<Clock::rep> until{0};
    void limit(Clock::duration d) { until = (Clock::now() + d).time_since_epoch().count(); }
    static int check(void* opaque) {
        auto* self = static_cast<Interrupt*>(opaque);
        return (self->quit != nullptr && self->quit->load()) ||
               (self->abandon != nullptr && self->abandon->load()) ||
               Clock::now().time_since_epoch().count() > self->until.load();
    }
};

int streamErrorOf(int averror) {
    switch (averror) {
    case AVERROR_HTTP_BAD_REQUEST:
    case AVERROR_HTTP_UNAUTHORIZED:
    case AVERROR_HTTP_FORBIDDEN:
    case AVERROR_HTTP_NOT_FOUND:
    case AVERROR_HTTP_OTHER_4XX:
    case AVERROR_HTTP_SERVER_ERROR:
        return kStreamRefused;
    case AVERROR_INVALIDDATA:
    case AVERROR_DEMUXER_NOT_FOUND:
    case AVERROR_DECODER_NOT_FOUND:
    case AVERROR_STREAM_NOT_FOUND:
        return kStreamNotAudio;
    default:
        return kStreamUnreachable;
    }
}

AVDictionary* httpOptions() {
    AVDictionary* o = nullptr;
    av_dict_set(&o, "user_agent", "KelvoRecorder", 0);
    av_dict_set(&o, "protocol_whitelist", kProtocols, 0);
    return o;
}

// The first kMaxPlaylistBytes of a playlist.
int fetchText(const std::string& address, Interrupt& interrupt, std::string& text) {
    AVIOInterruptCB cb{&Interrupt::check, &interrupt};
    AVDictionary* o = httpOptions();
    AVIOContext* io = nullptr;
    const int rc = avio_open2(&io, address.c_str(), AVIO_FLAG_READ, &cb, &o);
    av_dict_free(&o);
    if (rc < 0)
        return streamErrorOf(rc);
    text.assign(kMaxPlaylistBytes, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const int n = avio_read(io, reinterpret_cast<unsigned char*>(text.data() + got),
                                static_cast<int>(text.size() - got));
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    const bool interrupted = Interrupt::check(&interrupt) != 0;
    avio_closep(&io);
    return interrupted ? kStreamUnreachable : 0;
}

// The stream's own packets, remuxed into a file of their own format beside the recording.
// Kept across reconnects: packets of the next connection continue the same file while the
// codec stays the same.
class StreamCopy {
public:
    ~StreamCopy() { finish(); }

    void begin(const std::string& stem, const AVFormatContext* in, const AVStream* stream) {
        const AVCodecParameters* par = stream->codecpar;
        if (out_ != nullptr) {
            // The next connection: its timestamps start anew, ours go on.
            if (par->codec_id != codec_)
                finish();
            offset_ = AV_NOPTS_VALUE;
            return;
        }
        if (failed_ || stem.empty())
            return;
        const char* muxer = nullptr;
        const char* extension = nullptr;
        switch (par->codec_id) {
        case AV_CODEC_ID_MP3:
            muxer = "mp3", extension = ".mp3";
            break;
        case AV_CODEC_ID_AAC:
            muxer = "adts", extension = ".aac";
            break;
        case AV_CODEC_ID_VORBIS:
            muxer = "ogg", extension = ".ogg";
            break;
        case AV_CODEC_ID_OPUS:
            muxer = "opus", extension = ".opus";
            break;
        default:
            failed_ = true; // nothing this recorder keeps
            return;
        }
        const std::string path = stem + extension;
        if (avformat_alloc_output_context2(&out_, nullptr, muxer, path.c_str()) < 0) {
            fail();
            return;
        }
        AVStream* st = avformat_new_stream(out_, nullptr);
        // As ffmpeg -c copy does: the input's parameters and tags, and the muxer's name.
        if (st == nullptr || avcodec_parameters_copy(st->codecpar, par) < 0) {
            fail();
            return;
        }
        st->codecpar->codec_tag = 0;
        st->time_base = stream->time_base;
        av_dict_copy(&st->metadata, stream->metadata, 0);
        av_dict_copy(&out_->metadata, in->metadata, 0);
        av_dict_set(&out_->metadata, "encoder", LIBAVFORMAT_IDENT, 0);
        if (avio_open(&out_->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 ||
            avformat_write_header(out_, nullptr) < 0) {
            fail();
            return;
        }
        codec_ = par->codec_id;
    }

    void write(const AVPacket* packet, AVRational timeBase) {
        if (out_ == nullptr)
            return;
        AVPacket* p = av_packet_clone(packet);
        if (p == nullptr)
            return;
        p->stream_index = 0;
        av_packet_rescale_ts(p, timeBase, out_->streams[0]->time_base);
        // After a reconnect the new connection's clock is moved to follow on from ours.
        if (p->dts != AV_NOPTS_VALUE) {
            if (offset_ == AV_NOPTS_VALUE)
                offset_ = next_ == AV_NOPTS_VALUE ? 0 : next_ - p->dts;
            p->dts += offset_;
            if (p->pts != AV_NOPTS_VALUE)
                p->pts += offset_;
            next_ = p->dts + std::max<std::int64_t>(p->duration, 1);
        }
        // A packet the muxer refuses is left out; the copy goes on with the next.
        av_interleaved_write_frame(out_, p);
        av_packet_free(&p);
    }

    void finish() {
        if (out_ == nullptr)
            return;
        av_write_trailer(out_);
        avio_closep(&out_->pb);
        avformat_free_context(out_);
        out_ = nullptr;
        failed_ = true; // one file per recording
    }

private:
    void fail() {
        if (out_ != nullptr) {
            avio_closep(&out_->pb);
            avformat_free_context(out_);
        }
        out_ = nullptr;
        failed_ = true;
    }

    AVFormatContext* out_ = nullptr;
    AVCodecID codec_ = AV_CODEC_ID_NONE;
    std::int64_t offset_ = AV_NOPTS_VALUE;
    std::int64_t next_ = AV_NOPTS_VALUE;
    bool failed_ = false;
};

} // namespace

// What the devices of one capture share. Only one device connects or reads at a time: the
// engine retires the last before it opens the next.
struct StreamSession {
    StreamSetup setup;
    bool opened = false; // the capture's first device has connected
    std::atomic<int> failures{0};
    std::atomic<bool> ended{false};
    std::string lastTitle;
    StreamCopy copy;
};

namespace {

// One connection's FFmpeg state.
struct Connection {
    AVIOContext* io = nullptr; // ours: opened first, to read the server's content type
    AVFormatContext* fmt = nullptr;
    AVCodecContext* decoder = nullptr;
    SwrContext* swr = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int stream = -1;
    std::int64_t metaint = 0; // audio bytes between two ICY metadata blocks
    bool finite = false;      // a file of known length, not a live stream
    std::string icy;          // the last ICY metadata seen

    // The input the swr context was made for.
    int inFormat = -1, inRate = 0;
    AVChannelLayout inLayout{};

    ~Connection() {
        swr_free(&swr);
        avcodec_free_context(&decoder);
        avformat_close_input(&fmt);
        avio_closep(&io);
        av_packet_free(&packet);
        av_frame_free(&frame);
        av_channel_layout_uninit(&inLayout);
    }
};

std::int64_t metaintOf(AVFormatContext* fmt) {
    std::uint8_t* headers = nullptr;
    if (fmt->pb == nullptr ||
        av_opt_get(fmt->pb, "icy_metadata_headers", AV_OPT_SEARCH_CHILDREN, &headers) < 0 ||
        headers == nullptr)
        return 0;
    std::int64_t metaint = 0;
    for (const char* at = reinterpret_cast<const char*>(headers); *at != '\0';) {
        if (strncasecmp(at, "icy-metaint:", 12) == 0) {
            metaint = std::strtoll(at + 12, nullptr, 10);
            break;
        }
        const char* next = std::strchr(at, '\n');
        at = next != nullptr ? next + 1 : at + std::strlen(at);
    }
    av_free(headers);
    return std::max<std::int64_t>(metaint, 0);
}

std::string lowerCase(std::string s) {
    for (char& ch : s)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

// The demuxer for a content type, or null to probe.
const AVInputFormat* formatForType(const std::string& type) {
    static constexpr std::pair<std::string_view, const char*> kTypes[] = {
        {"audio/mpeg", "mp3"},
        {"audio/mp3", "mp3"},
        {"audio/aac", "aac"},
        {"audio/aacp", "aac"},
        {"audio/x-aac", "aac"},
        {"audio/ogg", "ogg"},
        {"application/ogg", "ogg"},
        {"application/vnd.apple.mpegurl", "hls"},
        {"application/x-mpegurl", "hls"},
        {"audio/mpegurl", "hls"},
        {"audio/x-mpegurl", "hls"},
    };
    const std::string_view base = std::string_view(type).substr(0, type.find(';'));
    for (const auto& [name, demuxer] : kTypes)
        if (base == name)
            return av_find_input_format(demuxer);
    return nullptr;
}

// Resolves playlists, connects and opens the decoder; 0 or a StreamError.
int connect(const std::string& start, Interrupt& interrupt, Connection& c) {
    std::string address = start;
    for (int depth = 0;; ++depth) {
        if (!isNetworkAddress(address))
            return kStreamNotAudio;
        if (!looksLikePlaylist(address))
            break;
        if (depth == kPlaylistDepth)
            return kStreamNotAudio;
        std::string text;
        if (int rc = fetchText(address, interrupt, text); rc != 0)
            return rc;
        if (isHlsPlaylist(text))
            break;
        address = firstPlaylistEntry(text, address);
    }

    const AVIOInterruptCB cb{&Interrupt::check, &interrupt};
    AVDictionary* o = httpOptions();
    av_dict_set(&o, "icy", "1", 0);
    int rc = avio_open2(&c.io, address.c_str(), AVIO_FLAG_READ, &cb, &o);
    av_dict_free(&o);
    if (rc < 0)
        return Interrupt::check(&interrupt) ? kStreamUnreachable : streamErrorOf(rc);
    // The server's word for what it sends spares probing it: a live stream without a burst
    // on connect would take seconds to fill the probe.
    std::uint8_t* mime = nullptr;
    const AVInputFormat* format = nullptr;
    if (av_opt_get(c.io, "mime_type", AV_OPT_SEARCH_CHILDREN, &mime) >= 0 && mime != nullptr) {
        const std::string type = lowerCase(reinterpret_cast<const char*>(mime));
        av_free(mime);
        if (type.rfind("text/html", 0) == 0)
            return kStreamNotAudio;
        format = formatForType(type);
    }
    c.fmt = avformat_alloc_context();
    if (c.fmt == nullptr)
        return kStreamUnreachable;
    c.fmt->interrupt_callback = cb;
    c.fmt->pb = c.io;
    c.fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Enough to know the stream, little enough to start soon. The MP3 and AAC demuxers
    // read ahead as far as this allows before their first frame.
    const bool bare = format != nullptr && (std::strcmp(format->name, "mp3") == 0 ||
                                            std::strcmp(format->name, "aac") == 0);
    c.fmt->probesize = bare ? 4096 : 64 * 1024;
    c.fmt->max_analyze_duration = AV_TIME_BASE / 2;
    o = httpOptions(); // for what the demuxer opens itself (HLS segments)
    rc = avformat_open_input(&c.fmt, address.c_str(), format, &o);
    av_dict_free(&o);
    if (rc < 0)
        return Interrupt::check(&interrupt) ? kStreamUnreachable : streamErrorOf(rc);
    // An MP3 or AAC stream's header tells all the decoder needs; analysing it first would
    // wait for half a second of it. Containers (HLS, Ogg) are analysed.
    const bool known = bare && c.fmt->nb_streams == 1 &&
                       c.fmt->streams[0]->codecpar->codec_id != AV_CODEC_ID_NONE &&
                       c.fmt->streams[0]->codecpar->sample_rate > 0;
    if (!known && avformat_find_stream_info(c.fmt, nullptr) < 0)
        return Interrupt::check(&interrupt) ? kStreamUnreachable : kStreamNotAudio;
    const AVCodec* codec = nullptr;
    c.stream = av_find_best_stream(c.fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (c.stream < 0 || codec == nullptr)
        return kStreamNotAudio;
    // Other renditions and streams are neither fetched nor decoded.
    for (unsigned i = 0; i < c.fmt->nb_streams; ++i)
        if (static_cast<int>(i) != c.stream)
            c.fmt->streams[i]->discard = AVDISCARD_ALL;
    c.decoder = avcodec_alloc_context3(codec);
    if (c.decoder == nullptr ||
        avcodec_parameters_to_context(c.decoder, c.fmt->streams[c.stream]->codecpar) < 0 ||
        avcodec_open2(c.decoder, codec, nullptr) < 0)
        return kStreamNotAudio;
    c.metaint = metaintOf(c.fmt);
    c.finite = c.fmt->duration != AV_NOPTS_VALUE && c.fmt->duration > 0;
    return 0;
}

// StreamTitle='...'; of an ICY metadata block; empty when it has none.
std::string streamTitle(const std::string& icy) {
    constexpr std::string_view key = "StreamTitle='";
    const std::size_t at = icy.find(key);
    if (at == std::string::npos)
        return {};
    const std::size_t from = at + key.size();
    std::size_t end = icy.find("';", from);
    if (end == std::string::npos)
        end = icy.rfind('\'');
    if (end == std::string::npos || end < from)
        return {};
    return icy.substr(from, end - from);
}

// ICY titles are often Latin-1 rather than UTF-8: anything that is not valid UTF-8 is read
// as Latin-1.
std::string asUtf8(const std::string& s) {
    bool valid = true;
    for (std::size_t i = 0; i < s.size() && valid;) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80         ? 1
                              : (c >> 5) == 6  ? 2
                              : (c >> 4) == 14 ? 3
                              : (c >> 3) == 30 ? 4
                                               : 0;
        if (n == 0 || i + n > s.size())
            valid = false;
        for (std::size_t k = 1; valid && k < n; ++k)
            valid = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        i += std::max<std::size_t>(n, 1);
    }
    if (valid)
        return s;
    std::string out;
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

class StreamCaptureDevice final : public CaptureDevice {
public:
    explicit StreamCaptureDevice(std::shared_ptr<StreamSession> session)
        : session_(std::move(session)) {
        interrupt_.quit = &quit_;
    }
    ~StreamCaptureDevice() override { close(); }

    int open(const CaptureFormat& format, NotificationQueue& target) override;
    int prepare(CaptureBuffer& buffer) override;
    int addBuffer(CaptureBuffer& buffer) override;
    int start() override;
    int reset() override;
    int unprepare(CaptureBuffer& buffer) override;
    int close() override;

private:
    void read();
    void release();
    bool waitForRoom();
    void decode(const AVPacket* packet);
    bool resample(const AVFrame* frame);
    void noteTitle();
    void lose();
    void stopThreads();
    void returnFront();

    std::shared_ptr<StreamSession> session_;
    std::unique_ptr<Connection> connection_;
    CaptureFormat format_{};
    NotificationQueue* target_ = nullptr;
    Interrupt interrupt_;
    std::atomic<bool> quit_{false};
    std::atomic<bool> lost_{false};
    std::thread reader_, releaser_;
    std::vector<std::uint8_t> converted_; // the reader's, for one decoded frame

    // Guards everything below; held only for copies, never across a network wait.
    std::mutex mutex_;
    std::condition_variable changed_;
    bool opened_ = false;
    bool accepting_ = false;
    bool readerDone_ = false;
    CaptureRing ring_;
    std::uint64_t received_ = 0; // frames ever put into the ring
    std::uint64_t released_ = 0; // frames ever handed on
    std::array<CaptureBuffer*, 4> queue_{};
    std::size_t head_ = 0, queued_ = 0;
    std::size_t filled_ = 0;       // bytes already in the front buffer
    std::uint64_t frontStart_ = 0; // frame number of the front buffer's first frame
    // Titles waiting for the frame they begin at to be handed on.
    struct Mark {
        std::uint64_t frame;
        std::array<char, 256> text;
    };
    std::array<Mark, 8> marks_{};
    std::size_t markCount_ = 0;
    // The title the reader waits to see begin: it starts with the first packet at or after
    // this byte of the stream.
    std::string pendingTitle_;
    std::int64_t pendingFrom_ = -1;
};

int StreamCaptureDevice::open(const CaptureFormat& format, NotificationQueue& target) {
    if (opened_)
        return EBUSY;
    if (session_->ended)
        return kStreamEnded;
    format_ = format;
    if (!session_->opened) {
        // The capture's first connection is made here, so that its start can fail.
        interrupt_.limit(kConnectLimit);
        interrupt_.abandon = session_->setup.abandon;
        auto c = std::make_unique<Connection>();
        const int rc = connect(session_->setup.address, interrupt_, *c);
        interrupt_.abandon = nullptr;
        if (rc != 0)
            return rc;
        session_->opened = true;
        connection_ = std::move(c);
    }
    ring_.allocate(static_cast<std::size_t>(format.sampleRate) * kRingSeconds, format.blockAlign);
    target_ = &target;
    {
        std::lock_guard lock(mutex_);
        opened_ = accepting_ = true;
    }
    return 0;
}

int StreamCaptureDevice::prepare(CaptureBuffer& buffer) {
    if (!opened_ || buffer.data == nullptr || buffer.capacity < format_.blockAlign)
        return EINVAL;
    buffer.prepared = true;
    return 0;
}

int StreamCaptureDevice::addBuffer(CaptureBuffer& buffer) {
    std::lock_guard lock(mutex_);
    if (!accepting_ || !buffer.prepared || queued_ == queue_.size())
        return EINVAL;
    buffer.bytesRecorded = 0;
    buffer.gapFrames = 0;
    buffer.markFrame = CaptureBuffer::kNoMark;
    queue_[(head_ + queued_) % queue_.size()] = &buffer;
    ++queued_;
    return 0;
}

int StreamCaptureDevice::start() {
    if (!opened_ || reader_.joinable())
        return EINVAL;
    quit_ = false;
    try {
        reader_ = std::thread(&StreamCaptureDevice::read, this);
        releaser_ = std::thread(&StreamCaptureDevice::release, this);
    } catch (...) {
        stopThreads();
        return EAGAIN;
    }
    return 0;
}

void StreamCaptureDevice::lose() {
    // A connection ended by reset is no loss: the engine is retiring or stopping the device.
    if (!quit_.load() && !lost_.exchange(true))
        target_->post({Notification::Lost, nullptr});
}

bool StreamCaptureDevice::waitForRoom() {
    // A second of room at least: more than any one packet decodes to.
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] {
        return quit_.load() || ring_.frames() + format_.sampleRate <=
                                   static_cast<std::size_t>(format_.sampleRate) * kRingSeconds;
    });
    return !quit_.load();
}

void StreamCaptureDevice::read() {
    if (!connection_) {
        // A reconnect: wait out the backoff, then connect here, off the engine's threads.
        const int failures = session_->failures.load();
        if (failures > 0) {
            const auto wait = std::min<Clock::duration>(
                kFirstBackoff * (1 << std::min(failures - 1, 8)), kLongestBackoff);
            std::unique_lock lock(mutex_);
            if (changed_.wait_for(lock, wait, [this] { return quit_.load(); }))
                return;
        }
        interrupt_.limit(kConnectLimit);
        auto c = std::make_unique<Connection>();
        const int rc = connect(session_->setup.address, interrupt_, *c);
        if (quit_)
            return;
        if (rc != 0) {
            session_->failures.fetch_add(1);
            {
                std::lock_guard lock(mutex_);
                readerDone_ = true;
            }
            changed_.notify_all();
            return;
        }
        connection_ = std::move(c);
    }
    session_->failures = 0;
    Connection& c = *connection_;
    const AVStream* stream = c.fmt->streams[c.stream];
    session_->copy.begin(session_->setup.copyStem, c.fmt, stream);
    noteTitle();

    bool endOfFile = false;
    while (waitForRoom()) {
        interrupt_.limit(kStallLimit);
        const int rc = av_read_frame(c.fmt, c.packet);
        if (rc == AVERROR(EAGAIN))
            continue;
        if (rc < 0) {
            endOfFile = rc == AVERROR_EOF && !quit_;
            break;
        }
        if (c.packet->stream_index == c.stream) {
            noteTitle();
            session_->copy.write(c.packet, stream->time_base);
            decode(c.packet);
        }
        av_packet_unref(c.packet);
    }
    // A file of known length played to its end is not fetched again.
    if (endOfFile && c.finite)
        session_->ended = true;
    {
        std::lock_guard lock(mutex_);
        readerDone_ = true;
    }
    changed_.notify_all();
}

void StreamCaptureDevice::noteTitle() {
    Connection& c = *connection_;
    std::uint8_t* value = nullptr;
    if (c.fmt->pb == nullptr ||
        av_opt_get(c.fmt->pb, "icy_metadata_packet", AV_OPT_SEARCH_CHILDREN, &value) < 0 ||
        value == nullptr)
        return;
    std::string icy(reinterpret_cast<const char*>(value));
    av_free(value);
    if (icy == c.icy)
        return;
    const bool first = c.icy.empty();
    c.icy = icy;
    std::string title = asUtf8(streamTitle(icy));
    if (title.empty())
        return;
    pendingTitle_ = std::move(title);
    // A block of metadata sits every metaint bytes and names the audio after it; FFmpeg has
    // read past the block it parsed. The connection's first title names all of its audio.
    const std::int64_t read = c.fmt->pb->pos;
    pendingFrom_ = first || c.metaint == 0 ? 0 : (read - 1) / c.metaint * c.metaint;
}

void StreamCaptureDevice::decode(const AVPacket* packet) {
    Connection& c = *connection_;
    if (avcodec_send_packet(c.decoder, packet) < 0)
        return; // a damaged packet: the decoder goes on with the next
    const bool titleBegins =
        !pendingTitle_.empty() && (packet->pos < 0 || packet->pos >= pendingFrom_);
    if (titleBegins) {
        if (pendingTitle_ != session_->lastTitle) {
            session_->lastTitle = pendingTitle_;
            std::lock_guard lock(mutex_);
            if (markCount_ < marks_.size()) {
                Mark& m = marks_[markCount_++];
                m.frame = received_;
                std::snprintf(m.text.data(), m.text.size(), "%s", pendingTitle_.c_str());
            }
        }
        pendingTitle_.clear();
    }
    while (avcodec_receive_frame(c.decoder, c.frame) == 0) {
        resample(c.frame);
        av_frame_unref(c.frame);
    }
}

bool StreamCaptureDevice::resample(const AVFrame* frame) {
    Connection& c = *connection_;
    if (c.swr == nullptr || frame->format != c.inFormat || frame->sample_rate != c.inRate ||
        av_channel_layout_compare(&frame->ch_layout, &c.inLayout) != 0) {
        swr_free(&c.swr);
        AVChannelLayout out{};
        av_channel_layout_default(&out, format_.channels);
        const auto outFormat = format_.bitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
        if (swr_alloc_set_opts2(&c.swr, &out, outFormat, static_cast<int>(format_.sampleRate),
                                const_cast<AVChannelLayout*>(&frame->ch_layout),
                                static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0,
                                nullptr) < 0 ||
            swr_init(c.swr) < 0) {
            swr_free(&c.swr);
            return false;
        }
        c.inFormat = frame->format;
        c.inRate = frame->sample_rate;
        av_channel_layout_uninit(&c.inLayout);
        av_channel_layout_copy(&c.inLayout, &frame->ch_layout);
    }
    const int room = swr_get_out_samples(c.swr, frame->nb_samples);
    if (room <= 0)
        return false;
    converted_.resize(static_cast<std::size_t>(room) * format_.blockAlign);
    std::uint8_t* out = converted_.data();
    const int frames =
        swr_convert(c.swr, &out, room, const_cast<const std::uint8_t**>(frame->extended_data),
                    frame->nb_samples);
    if (frames <= 0)
        return frames == 0;
    std::lock_guard lock(mutex_);
    std::size_t left = static_cast<std::size_t>(frames);
    const std::uint8_t* from = converted_.data();
    while (left > 0) {
        std::size_t space = 0;
        std::uint8_t* to = ring_.writable(space);
        if (space == 0)
            break; // never: the reader waits for a second of room
        const std::size_t n = std::min(space, left);
        std::memcpy(to, from, n * format_.blockAlign);
        ring_.commit(n);
        received_ += n;
        from += n * format_.blockAlign;
        left -= n;
    }
    return true;
}

void StreamCaptureDevice::returnFront() {
    // Called with mutex_ held.
    CaptureBuffer* buffer = queue_[head_];
    buffer->bytesRecorded = static_cast<std::uint32_t>(filled_);
    filled_ = 0;
    head_ = (head_ + 1) % queue_.size();
    --queued_;
    target_->post({Notification::Data, buffer});
}

// Hands the ring's frames on at the recording's rate from the first frame on, as a sound
// card would: the file never runs ahead of the clock, and a stop takes only what is due.
void StreamCaptureDevice::release() {
    Clock::time_point first{};
    bool started = false;
    std::unique_lock lock(mutex_);
    while (!quit_) {
        changed_.wait_for(lock, kReleaseStep);
        if (quit_)
            break;
        if (!started && ring_.frames() > 0) {
            started = true;
            first = Clock::now();
        }
        const std::uint64_t due =
            started ? static_cast<std::uint64_t>(
                          std::chrono::duration<double>(Clock::now() - first).count() *
                          format_.sampleRate)
                    : 0;
        while (queued_ > 0 && released_ < due && ring_.frames() > 0) {
            CaptureBuffer& b = *queue_[head_];
            const std::size_t capacity = b.capacity / format_.blockAlign;
            std::size_t inBuffer = filled_ / format_.blockAlign;
            if (inBuffer == 0)
                frontStart_ = released_;
            const std::size_t want = std::min<std::uint64_t>(capacity - inBuffer, due - released_);
            const std::size_t got = ring_.take(b.data + filled_, want, false);
            inBuffer += got;
            released_ += got;
            filled_ = inBuffer * format_.blockAlign;
            // A title goes with the buffer that holds its first frame.
            if (markCount_ > 0 && marks_[0].frame < released_ &&
                b.markFrame == CaptureBuffer::kNoMark) {
                b.markFrame = static_cast<std::uint32_t>(
                    marks_[0].frame > frontStart_ ? marks_[0].frame - frontStart_ : 0);
                std::memcpy(b.markText, marks_[0].text.data(), sizeof b.markText);
                std::move(marks_.begin() + 1,
                          marks_.begin() + static_cast<std::ptrdiff_t>(markCount_), marks_.begin());
                --markCount_;
            }
            if (inBuffer < capacity)
                break;
            returnFront();
        }
        changed_.notify_all(); // room for the reader
        if (readerDone_ && ring_.frames() == 0) {
            // Everything received is handed on; only now is the connection told lost.
            if (queued_ > 0 && filled_ > 0)
                returnFront();
            lock.unlock();
            lose();
            return;
        }
    }
}

void StreamCaptureDevice::stopThreads() {
    quit_ = true;
    changed_.notify_all();
    if (reader_.joinable())
        reader_.join();
    if (releaser_.joinable())
        releaser_.join();
}

int StreamCaptureDevice::reset() {
    if (!opened_)
        return EINVAL;
    stopThreads();
    std::lock_guard lock(mutex_);
    while (queued_ > 0)
        returnFront();
    return 0;
}

int StreamCaptureDevice::unprepare(CaptureBuffer& buffer) {
    if (!opened_)
        return kDeviceInvalidHandle;
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < queued_; ++i)
        if (queue_[(head_ + i) % queue_.size()] == &buffer)
            return kDeviceStillQueued;
    buffer.prepared = false;
    return 0;
}

int StreamCaptureDevice::close() {
    if (!opened_)
        return 0;
    {
        std::lock_guard lock(mutex_);
        accepting_ = false;
    }
    stopThreads();
    connection_.reset();
    {
        std::lock_guard lock(mutex_);
        queued_ = filled_ = 0;
        opened_ = false;
    }
    target_ = nullptr;
    return 0;
}

} // namespace

std::function<std::unique_ptr<CaptureDevice>()> makeStreamDevices(StreamSetup setup) {
    // The engine prints nothing; FFmpeg would, about every damaged frame.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    auto session = std::make_shared<StreamSession>();
    session->setup = std::move(setup);
    return [session]() -> std::unique_ptr<CaptureDevice> {
        return std::make_unique<StreamCaptureDevice>(session);
    };
}

} // namespace kelvo::engine
