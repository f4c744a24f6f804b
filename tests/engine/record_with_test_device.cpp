// Records with the test device in a process of its own, so tests can kill it mid-recording
// or give it a full disk (a file size limit) without touching the test runner.
//   record_with_test_device FILE [--seconds S] [--file-limit BYTES]
#include "engine/capture_engine.h"
#include "fake_capture_device.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <thread>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    double seconds = 3600;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) {
            seconds = std::atof(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--file-limit") == 0) {
            std::signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
            rlimit limit{};
            limit.rlim_cur = limit.rlim_max = std::strtoull(argv[i + 1], nullptr, 10);
            setrlimit(RLIMIT_FSIZE, &limit);
        }
    }
    auto control = std::make_shared<kelvo::engine::testing::FakeDeviceControl>();
    control->pacingMs = 50;
    kelvo::engine::Engine engine(kelvo::engine::testing::FakeCaptureDevice::factory(control));
    engine.initialize();
    int rc = engine.start(1, 2, 8000, argv[1]);
    std::printf("started %d\n", rc);
    std::fflush(stdout);
    if (rc != 0)
        return 1;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    rc = engine.stop();
    std::printf("stopped %d\n", rc);
    return 0;
}
