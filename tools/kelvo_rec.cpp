// kelvo-rec: records a sound server source (the default one unless --source names another),
// or a stream, into a WAV file through the engine's exports, for headless use (cron, systemd
// timers) and for measuring the engine alone.
#include "kelvo/kelvo.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<bool> g_stop{false};

void onSignal(int) {
    g_stop = true;
}

// ALSA's plugins print every failed attempt to reach a sound server; while the engine
// reconnects that would be four lines a second. The gaps are reported here instead.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: kelvo-rec [--source NAME] [--rate HZ] [--channels 1|2] [--seconds N]\n"
                 "                 [--url URL [--keep-stream]] FILE.wav\n"
                 "Records the sound server's source NAME (its server name, as `pactl list\n"
                 "short sources` shows it; by default the server's default source) until\n"
                 "N seconds have passed or Ctrl-C is pressed. Without a sound server it\n"
                 "records ALSA's default device. --channels 1 records 8-bit mono, 2 (the\n"
                 "default) 16-bit stereo; the default rate is 44100 Hz.\n"
                 "--url records the stream at URL instead (http or https: Icecast,\n"
                 "Shoutcast, HLS, or a .m3u, .pls or .xspf playlist of one), decoded to\n"
                 "the same format; its titles go into FILE.cue. --keep-stream also keeps\n"
                 "the stream as broadcast beside the file (FILE.mp3, .aac, .ogg, .opus).\n"
                 "If the capture device goes away (a sound server restart, the source\n"
                 "removed) or the stream's connection drops, the recording goes on:\n"
                 "silence is written until it is back, and each gap is reported on\n"
                 "standard error. A source that is not there at the start is waited for\n"
                 "the same way.\n"
                 "Exit status: 0 recorded whole, gaps filled and reported; 1 the\n"
                 "recording could not start or stop; 2 bad arguments; 3 the capture\n"
                 "device or the stream was lost and never came back; 4 writing the file\n"
                 "failed (disk full, file too large, I/O error); 5 the stream could not\n"
                 "be reached or is not an audio stream.\n");
}

// Now on the clock the engine keeps the timeline by, which goes on while the machine sleeps.
std::chrono::nanoseconds bootTime() {
    timespec t{};
    ::clock_gettime(CLOCK_BOOTTIME, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

// Decibels of a 16-bit magnitude against full scale.
double dbfs(double magnitude) {
    return magnitude > 0 ? 20 * std::log10(magnitude / 32767.0) : -INFINITY;
}

// m:ss.d (h:mm:ss.d from an hour on), the position in the recording.
std::string position(std::uint64_t frames, unsigned long rate) {
    const std::uint64_t tenths = frames * 10 / rate;
    const std::uint64_t s = tenths / 10;
    char text[48];
    if (s >= 3600)
        std::snprintf(
            text, sizeof text, "%llu:%02llu:%02llu.%llu", static_cast<unsigned long long>(s / 3600),
            static_cast<unsigned long long>(s / 60 % 60), static_cast<unsigned long long>(s % 60),
            static_cast<unsigned long long>(tenths % 10));
    else
        std::snprintf(
            text, sizeof text, "%llu:%02llu.%llu", static_cast<unsigned long long>(s / 60),
            static_cast<unsigned long long>(s % 60), static_cast<unsigned long long>(tenths % 10));
    return text;
}

// Reports each gap as it starts and ends, from what the engine counts.
class GapReporter {
public:
    GapReporter(unsigned long rate, const char* what) : rate_(rate), what_(what) {}

    void update(const KelvoStatus& s, bool live) {
        const std::uint64_t at = s.framesCaptured + s.framesFilled;
        // After the stop the state is idle: a gap that ended just before it ended too.
        const bool capturing =
            s.deviceState == KELVO_DEVICE_CAPTURING || s.deviceState == KELVO_DEVICE_IDLE;
        const bool away = s.deviceState == KELVO_DEVICE_RECONNECTING ||
                          s.deviceState == KELVO_DEVICE_SOURCE_MISSING;
        if (s.gaps != gaps_ && away && !open_) {
            gapStart_ = at;
            open_ = true;
            if (s.deviceState == KELVO_DEVICE_SOURCE_MISSING)
                say(live,
                    "kelvo-rec: the source is not there at %s; silence is recorded until "
                    "it appears\n",
                    position(at, rate_).c_str());
            else
                say(live, "kelvo-rec: %s lost at %s, reconnecting\n", what_,
                    position(at, rate_).c_str());
        } else if (open_ && capturing) {
            open_ = false;
            say(live, "kelvo-rec: %s lost at %s, silence written until %s\n", what_,
                position(gapStart_, rate_).c_str(),
                position(gapStart_ + s.lastGapFrames, rate_).c_str());
        } else if (s.gaps != gaps_ && capturing) {
            // A gap that opened and closed between two looks: a short loss, or the
            // recording itself fell behind.
            say(live,
                "kelvo-rec: capture interrupted for %.1f s, silence written in its place "
                "before %s\n",
                static_cast<double>(s.lastGapFrames) / static_cast<double>(rate_),
                position(at, rate_).c_str());
        }
        gaps_ = s.gaps;
    }
    // At the end: a gap still open means the device never came back.
    bool finish(const KelvoStatus& s, bool live) {
        if (s.deviceState != KELVO_DEVICE_LOST)
            return true;
        say(live,
            "kelvo-rec: %s lost at %s and not back when the recording ended; "
            "silence written until %s\n",
            what_, position(open_ ? gapStart_ : s.framesCaptured, rate_).c_str(),
            position(s.framesCaptured + s.framesFilled, rate_).c_str());
        return false;
    }

private:
    template <typename... A> static void say(bool live, const char* format, A... args) {
        if (live)
            std::fputc('\n', stderr); // off the meter line
        std::fprintf(stderr, format, args...);
    }

    unsigned long rate_;
    const char* what_; // "capture device" or "stream"
    std::uint32_t gaps_ = 0;
    bool open_ = false;
    std::uint64_t gapStart_ = 0;
};

bool parseNumber(const char* text, unsigned long max, unsigned long& out) {
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || v > max)
        return false;
    out = v;
    return true;
}

std::string meterBar(int peak) {
    const int width = 20;
    int lit = (peak * width + 16383) / 32767;
    return std::string(static_cast<std::size_t>(lit), '#') +
           std::string(static_cast<std::size_t>(width - lit), '-');
}

} // namespace

int main(int argc, char** argv) {
    unsigned long rate = 44100, channels = 2, seconds = 0, maxFill = 0;
    bool reportClock = false;
    const char* file = nullptr;
    const char* source = nullptr;
    const char* url = nullptr;
    bool keepStream = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](unsigned long max, unsigned long& out) {
            if (i + 1 >= argc || !parseNumber(argv[++i], max, out)) {
                std::fprintf(stderr, "kelvo-rec: %s needs a whole number up to %lu\n", arg.c_str(),
                             max);
                std::exit(2);
            }
        };
        if (arg == "--rate")
            value(384000, rate);
        else if (arg == "--channels")
            value(2, channels);
        else if (arg == "--seconds")
            value(7UL * 24 * 3600, seconds);
        else if (arg == "--source") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "kelvo-rec: --source needs a source name\n");
                return 2;
            }
            source = argv[++i];
        } else if (arg == "--test-max-fill") // these two are not in the usage: tests only
            value(3600, maxFill);
        else if (arg == "--test-report-clock")
            reportClock = true;
        else if (arg == "--url") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "kelvo-rec: --url needs an address\n");
                return 2;
            }
            url = argv[++i];
        } else if (arg == "--keep-stream")
            keepStream = true;
        else if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "kelvo-rec: unknown option %s\n", arg.c_str());
            usage(stderr);
            return 2;
        } else if (file == nullptr)
            file = argv[i];
        else {
            std::fprintf(stderr, "kelvo-rec: only one output file, please\n");
            return 2;
        }
    }
    if (file == nullptr) {
        usage(stderr);
        return 2;
    }
    if (channels != 1 && channels != 2) {
        std::fprintf(stderr, "kelvo-rec: --channels must be 1 or 2\n");
        return 2;
    }
    if (rate < 1000) {
        std::fprintf(stderr, "kelvo-rec: --rate must be at least 1000 Hz\n");
        return 2;
    }
    if (keepStream && url == nullptr) {
        std::fprintf(stderr, "kelvo-rec: --keep-stream needs --url\n");
        return 2;
    }
    if (int rc = url != nullptr ? KelvoSetStreamA(url) : 0; rc != 0) {
        std::fprintf(stderr, "kelvo-rec: cannot record %s: %s\n", url, kelvo_strerror(rc));
        return rc == KELVO_ERR_STREAM_UNSUPPORTED ? 1 : 2;
    }
    KelvoKeepStreamCopy(keepStream ? 1 : 0);

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // Past a file size limit a write should fail (EFBIG, reported) rather than kill us.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);

    // The engine writes a header and seeks back into it: a device, a pipe or a folder is no
    // place for a WAV file.
    struct stat before {};
    if (::stat(file, &before) == 0 && !S_ISREG(before.st_mode)) {
        std::fprintf(stderr, "kelvo-rec: %s is not a regular file; give a file to record into\n",
                     file);
        return 2;
    }

    snd_lib_error_set_handler(quietAlsa);
    if (maxFill > 0) {
        // Only the test build of the engine has it (preloaded by the tests).
        using SetMaxFill = void(double);
        auto* set =
            reinterpret_cast<SetMaxFill*>(dlsym(RTLD_DEFAULT, "KelvoTestSetMaxFillSeconds"));
        if (set == nullptr) {
            std::fprintf(stderr, "kelvo-rec: --test-max-fill needs the engine's test build\n");
            return 2;
        }
        set(static_cast<double>(maxFill));
    }
    if (int rc = KelvoSetSourceA(source); rc != 0) {
        std::fprintf(stderr, "kelvo-rec: %s: %s\n", source, kelvo_strerror(rc));
        return 2;
    }
    KelvoInitialize();
    errno = 0;
    int rc =
        KelvoStartMonitorA(1, static_cast<uint32_t>(channels), static_cast<uint32_t>(rate), file);
    if (rc == KELVO_ERR_CREATE_FILE) {
        std::fprintf(stderr, "kelvo-rec: cannot create %s: %s\n", file,
                     std::strerror(errno != 0 ? errno : EIO));
        return 1;
    }
    if (rc == KELVO_ERR_STREAM_UNREACHABLE || rc == KELVO_ERR_STREAM_REFUSED ||
        rc == KELVO_ERR_STREAM_NOT_AUDIO) {
        std::fprintf(stderr, "kelvo-rec: cannot record %s: %s\n", url, kelvo_strerror(rc));
        return 5;
    }
    if (rc != 0) {
        std::fprintf(stderr, "kelvo-rec: cannot record into %s: %s (code %d)\n", file,
                     kelvo_strerror(rc), rc);
        return 1;
    }
    // The file as the engine made it: another one, or none, at its name means it was deleted.
    struct stat made {};
    const bool known = ::stat(file, &made) == 0;
    bool deleted = false;
    std::string restored;

    const bool live = isatty(STDERR_FILENO) != 0;
    // The deadline follows the engine's clock: a recording that slept or was frozen past its
    // end stops as soon as it runs again.
    const auto began = bootTime();
    auto elapsed = [&] { return bootTime() - began; };
    // Without a terminal there is nothing to draw: wake once a second, to tell what changed.
    // A signal cuts the sleep short (nanosleep returns on EINTR), so Ctrl-C still stops at once.
    const long stepMs = live ? 100 : 1000;
    GapReporter gaps(rate, url != nullptr ? "stream" : "capture device");
    KelvoStatus status{};
    int writeError = 0;
    bool silenceTold = false;
    while (!g_stop && (seconds == 0 || elapsed() < std::chrono::seconds(seconds))) {
        auto left = std::chrono::seconds(seconds) - elapsed();
        long ms =
            seconds == 0
                ? stepMs
                : std::clamp<long>(
                      static_cast<long>(
                          std::chrono::duration_cast<std::chrono::milliseconds>(left).count()),
                      1, stepMs);
        timespec pause{ms / 1000, (ms % 1000) * 1'000'000};
        ::nanosleep(&pause, nullptr);
        KelvoGetStatus(&status, sizeof status);
        gaps.update(status, live);
        if (status.lastWriteError != 0 && writeError == 0) {
            writeError = status.lastWriteError;
            if (live)
                std::fputc('\n', stderr);
            std::fprintf(stderr,
                         "kelvo-rec: writing %s failed: %s; the file holds what was "
                         "written before\n",
                         file, std::strerror(writeError));
            // Nothing more will fit; the file is completed now.
            break;
        }
        // A long silence is worth a word while it lasts: a muted source, a wrong one.
        if (status.silentRunFrames >= 30 * rate && !silenceTold) {
            silenceTold = true;
            if (live)
                std::fputc('\n', stderr);
            std::fprintf(stderr, "kelvo-rec: silent for %.0f s (no sample above -50 dBFS)\n",
                         static_cast<double>(status.silentRunFrames) / static_cast<double>(rate));
        } else if (status.silentRunFrames == 0) {
            silenceTold = false;
        }
        struct stat named {};
        if (known && !deleted && status.parts <= 1 &&
            (::stat(file, &named) != 0 || named.st_ino != made.st_ino ||
             named.st_dev != made.st_dev)) {
            deleted = true;
            if (live)
                std::fputc('\n', stderr);
            std::fprintf(stderr,
                         "kelvo-rec: %s was deleted; nothing is lost, it is written back when the "
                         "recording stops\n",
                         file);
        }
        if (live) {
            long s = std::chrono::duration_cast<std::chrono::seconds>(elapsed()).count();
            std::fprintf(stderr, "\r%02ld:%02ld:%02ld  L %s  R %s", s / 3600, s / 60 % 60, s % 60,
                         meterBar(KelvoPeakGetValueLeft()).c_str(),
                         meterBar(KelvoPeakGetValueRight()).c_str());
        }
    }
    if (live)
        std::fputc('\n', stderr);

    const auto stoppedAt = bootTime();
    rc = KelvoStopMonitor();
    KelvoGetStatus(&status, sizeof status);
    if (reportClock)
        std::fprintf(stderr, "kelvo-rec: timeline from %lld ns to %lld ns\n",
                     static_cast<long long>(status.timelineStartNs),
                     static_cast<long long>(stoppedAt.count()));
    if (rc != 0 && (writeError != 0 || status.lastWriteError != 0)) {
        // Completing the header failed for the same reason the writing did.
        std::fprintf(stderr,
                     "kelvo-rec: writing %s failed: %s; the file holds what was "
                     "written before\n",
                     file, std::strerror(writeError != 0 ? writeError : status.lastWriteError));
        return 4;
    }
    if (rc != 0) {
        std::fprintf(stderr,
                     "kelvo-rec: the recording in %s may be incomplete: stopping failed: %s "
                     "(code %d)\n",
                     file, kelvo_strerror(rc), rc);
        return 1;
    }
    gaps.update(status, false);
    const bool deviceBack = gaps.finish(status, false);
    const double secs = static_cast<double>(status.bytesWritten) /
                        (static_cast<double>(rate) * static_cast<double>(channels * channels));
    const double filled = static_cast<double>(status.framesFilled) / static_cast<double>(rate);
    if (deleted) {
        // The engine writes a deleted recording back at the stop, beside a file that took the
        // name meanwhile: say where it is, and never call a recording that is gone recorded.
        const std::string name = file;
        const std::size_t slash = name.rfind('/');
        const std::size_t dot = name.rfind('.');
        const std::size_t stem =
            dot != std::string::npos && (slash == std::string::npos || dot > slash) ? dot
                                                                                    : name.size();
        const std::string beside = name.substr(0, stem) + "-restored" + name.substr(stem);
        struct stat named {};
        struct stat moved {};
        if (::stat(beside.c_str(), &moved) == 0 && moved.st_mtime >= made.st_mtime) {
            std::fprintf(stderr,
                         "kelvo-rec: another file took the name %s while recording; the whole "
                         "recording was written back to %s\n",
                         file, beside.c_str());
            restored = beside;
            file = restored.c_str();
        } else if (::stat(file, &named) == 0) {
            std::fprintf(stderr,
                         "kelvo-rec: %s is back: the whole recording was written back to it\n",
                         file);
        } else {
            std::fprintf(stderr,
                         "kelvo-rec: %s was deleted and could not be written back; the %.1f s "
                         "recorded are lost\n",
                         file, secs);
            return 4;
        }
    }
    std::fprintf(stderr, "kelvo-rec: recorded %.1f s into %s", secs, file);
    if (status.parts > 1)
        std::fprintf(stderr, " and %u more part%s", status.parts - 1, status.parts > 2 ? "s" : "");
    if (status.gaps > 0)
        std::fprintf(stderr, ", %.1f s of it silence filled in for %u gap%s", filled, status.gaps,
                     status.gaps > 1 ? "s" : "");
    std::fputc('\n', stderr);
    if (status.samples > 0) {
        const double rms = std::sqrt(static_cast<double>(status.sumOfSquares) /
                                     static_cast<double>(status.samples));
        std::fprintf(stderr, "kelvo-rec: level: peak %.1f dBFS, RMS %.1f dBFS",
                     dbfs(status.highestPeak), dbfs(rms));
        if (status.framesSilent > 0)
            std::fprintf(stderr,
                         "; %.1f s of what was captured is silent (no sample above -50 dBFS)",
                         static_cast<double>(status.framesSilent) / static_cast<double>(rate));
        std::fputc('\n', stderr);
    }
    if (status.lastWriteError != 0) {
        if (writeError == 0)
            std::fprintf(stderr, "kelvo-rec: writing %s failed: %s\n", file,
                         std::strerror(status.lastWriteError));
        return 4;
    }
    return deviceBack ? 0 : 3;
}
