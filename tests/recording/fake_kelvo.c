/* A stand-in libkelvo.so for testing the loader: each export answers something that proves
   the call reached it with the arguments given. */
#include <stdint.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))

EXPORT int KelvoInitialize(void) {
    return 0;
}

EXPORT int KelvoStartMonitorA(int writeFile, uint32_t channels, uint32_t sampleRate,
                              const char* fileName) {
    return (int)(writeFile * 1000000 + channels * 100000 + sampleRate / 1000 * 100 +
                 strlen(fileName));
}

EXPORT int KelvoStopMonitor(void) {
    return -10;
}

#ifndef FAKE_KELVO_WITHOUT_PAUSE
EXPORT int KelvoTogglePause(void) {
    return 7;
}
#endif

EXPORT int KelvoPeakGetValueLeft(void) {
    return 1234;
}
EXPORT int KelvoPeakGetValueRight(void) {
    return 4321;
}
