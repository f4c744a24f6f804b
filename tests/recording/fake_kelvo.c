/* A stand-in libkelvo.so: each export's answer proves the call reached it with its arguments. */
#include <stdint.h>
#include <string.h>

#define ANSWER(name, value)                                                                        \
    int name(void) {                                                                               \
        return value;                                                                              \
    }

ANSWER(KelvoInitialize, 0)
ANSWER(KelvoStopMonitor, -10)
#ifndef FAKE_KELVO_WITHOUT_PAUSE
ANSWER(KelvoTogglePause, 7)
#endif
ANSWER(KelvoPeakGetValueLeft, 1234)
ANSWER(KelvoPeakGetValueRight, 4321)

int KelvoStartMonitorA(int writeFile, uint32_t channels, uint32_t sampleRate,
                       const char* fileName) {
    return (int)(writeFile * 1000000 + channels * 100000 + sampleRate / 1000 * 100 +
                 strlen(fileName));
}
