/* A stand-in libkelvo.so: each export's answer proves the call reached it with its arguments. */
#include <stddef.h>
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

/* The last source chosen, answered back by the start as its name's length. */
static size_t chosenSource = 0;

int KelvoSetSourceA(const char* sourceName) {
    chosenSource = sourceName ? strlen(sourceName) : 0;
    return 0;
}

int KelvoStartMonitorA(int writeFile, uint32_t channels, uint32_t sampleRate,
                       const char* fileName) {
    return (int)(writeFile * 1000000 + channels * 100000 + sampleRate / 1000 * 100 +
                 strlen(fileName) + chosenSource * 10000000);
}

#ifndef FAKE_KELVO_WITHOUT_STATUS
/* Stream capture came with the status export; an engine without it has neither. */
int KelvoSetStreamA(const char* url) {
    return url ? (int)strlen(url) : 0;
}

int KelvoKeepStreamCopy(int keep) {
    return keep * 5;
}

/* Mirrors the engine's struct: the size decides how much an older caller gets. */
typedef struct {
    int32_t deviceState, lastWriteError;
    uint64_t framesCaptured, framesFilled, bytesWritten;
    uint32_t gaps, parts;
    uint64_t lastGapFrames;
} FakeStatus;

int KelvoGetStatus(FakeStatus* status, size_t size) {
    if (status == NULL || size < 8) {
        return -2;
    }
    const FakeStatus answer = {2, 28, 11, 22, 33, 4, 5, 66};
    memcpy(status, &answer, size < sizeof answer ? size : sizeof answer);
    return 0;
}
#endif
