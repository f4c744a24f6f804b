// kelvo-rec: records the default capture source into a WAV file through the engine's
// exports, for headless use (cron, systemd timers) and for measuring the engine alone.
#include "kelvo/kelvo.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>

namespace {

std::atomic<bool> g_stop{false};

void onSignal(int) {
    g_stop = true;
}

const char* describe(int code) {
    switch (code) {
    case KELVO_ERR_ALREADY_RUNNING:
        return "a capture is already running";
    case KELVO_ERR_WORKER:
        return "the capture worker could not be started";
    case KELVO_ERR_OPEN_DEVICE:
        return "the capture device could not be opened (busy, missing, or the format is "
               "not supported)";
    case KELVO_ERR_PREPARE_BUFFER:
        return "a capture buffer could not be prepared";
    case KELVO_ERR_QUEUE_BUFFER:
        return "a capture buffer could not be queued";
    case KELVO_ERR_CREATE_FILE:
        return "the output file could not be created";
    default:
        return "the engine failed";
    }
}

void usage(FILE* out) {
    std::fprintf(out, "usage: kelvo-rec [--rate HZ] [--channels 1|2] [--seconds N] FILE.wav\n"
                      "Records the default capture source until N seconds have passed or\n"
                      "Ctrl-C is pressed. --channels 1 records 8-bit mono, 2 (the default)\n"
                      "16-bit stereo; the default rate is 44100 Hz.\n");
}

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
    unsigned long rate = 44100, channels = 2, seconds = 0;
    const char* file = nullptr;
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

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    KelvoInitialize();
    int rc =
        KelvoStartMonitorA(1, static_cast<uint32_t>(channels), static_cast<uint32_t>(rate), file);
    if (rc != 0) {
        std::fprintf(stderr, "kelvo-rec: cannot record into %s: %s (code %d)\n", file, describe(rc),
                     rc);
        return 1;
    }

    const bool live = isatty(STDERR_FILENO) != 0;
    const auto began = std::chrono::steady_clock::now();
    auto elapsed = [&] { return std::chrono::steady_clock::now() - began; };
    // Without a terminal there is nothing to draw: wake rarely. A signal cuts the sleep
    // short (nanosleep returns on EINTR), so Ctrl-C still stops at once.
    const long stepMs = live ? 100 : 1000;
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
        if (live) {
            long s = std::chrono::duration_cast<std::chrono::seconds>(elapsed()).count();
            std::fprintf(stderr, "\r%02ld:%02ld:%02ld  L %s  R %s", s / 3600, s / 60 % 60, s % 60,
                         meterBar(KelvoPeakGetValueLeft()).c_str(),
                         meterBar(KelvoPeakGetValueRight()).c_str());
        }
    }
    if (live)
        std::fputc('\n', stderr);

    rc = KelvoStopMonitor();
    if (rc != 0) {
        std::fprintf(stderr,
                     "kelvo-rec: the recording in %s may be incomplete: stopping failed "
                     "(code %d)\n",
                     file, rc);
        return 1;
    }
    double secs = std::chrono::duration<double>(elapsed()).count();
    std::fprintf(stderr, "kelvo-rec: recorded %.1f s into %s\n", secs, file);
    return 0;
}
