#include "recorder/recording/background_start.h"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

namespace kelvo {

namespace {

// A cancel that reaches the engine just before the start begins is not seen by it; asking
// again this often closes that gap.
constexpr std::chrono::milliseconds kCancelRepeat{20};

} // namespace

BackgroundStart::BackgroundStart(CaptureEngine& engine, std::uint32_t channels,
                                 std::uint32_t sampleRate, std::string path)
    : engine_(engine) {
    try {
        thread_ = std::thread([this, channels, sampleRate, path = std::move(path)] {
            run(channels, sampleRate, path);
        });
    } catch (const std::system_error&) {
        answer({KELVO_ERR_WORKER, EAGAIN});
    }
}

BackgroundStart::~BackgroundStart() {
    while (!cancel(std::chrono::seconds(1))) {
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

void BackgroundStart::run(std::uint32_t channels, std::uint32_t sampleRate,
                          const std::string& path) {
    errno = 0;
    const int code = engine_.startCapture(1, channels, sampleRate, path);
    answer({code, errno});
}

void BackgroundStart::answer(Result result) {
    {
        std::lock_guard lock(mutex_);
        result_ = result;
    }
    done_.notify_all();
}

std::optional<BackgroundStart::Result> BackgroundStart::result() const {
    std::lock_guard lock(mutex_);
    return result_;
}

bool BackgroundStart::cancel(std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    std::unique_lock lock(mutex_);
    while (!result_ && std::chrono::steady_clock::now() < until) {
        engine_.cancelStart();
        done_.wait_until(lock, std::min(until, std::chrono::steady_clock::now() + kCancelRepeat),
                         [this] { return result_.has_value(); });
    }
    return result_.has_value();
}

} // namespace kelvo
