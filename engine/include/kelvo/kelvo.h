// kelvo: the capture engine of KelvoRecorder.
//
// One capture at a time, held in process-wide state; there is no handle. Every export is
// called from one thread (the caller's); the engine adds a device thread and a capture
// worker of its own per running capture. No export blocks for long except KelvoStopMonitor,
// which waits until both capture buffers have come back (about 100 ms). Failures are only
// ever reported as the negative codes below; the engine prints and logs nothing.
#ifndef KELVO_KELVO_H
#define KELVO_KELVO_H

#include <stdint.h>

#if defined(KELVO_BUILDING_LIBRARY)
#define KELVO_EXPORT __attribute__((visibility("default")))
#else
#define KELVO_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
    KELVO_OK = 0,

    // KelvoStartMonitorA
    KELVO_ERR_ALREADY_RUNNING = -999, // a capture runs; nothing changed
    KELVO_ERR_WORKER = -1,            // the capture worker could not be created
    KELVO_ERR_OPEN_DEVICE = -3,       // device busy, missing, or the format is refused
    KELVO_ERR_PREPARE_BUFFER = -4,    // a pool buffer could not be prepared
    KELVO_ERR_QUEUE_BUFFER = -5,      // a pool buffer could not be queued
    KELVO_ERR_CREATE_FILE = -99,      // the output file could not be created
    KELVO_ERR_START_CAPTURE = -6,     // the device would not start

    // KelvoStopMonitor
    KELVO_ERR_RESET_DEVICE = -10,
    KELVO_ERR_RELEASE_INVALID_HANDLE = -50,
    KELVO_ERR_RELEASE_NO_DRIVER = -51,
    KELVO_ERR_RELEASE_NO_MEMORY = -52,
    KELVO_ERR_RELEASE_STILL_QUEUED = -53,
    KELVO_ERR_RELEASE_OTHER = -666,
    KELVO_ERR_CLOSE_DEVICE = -11,
    KELVO_ERR_FILE_SEEK = -6,  // a header seek did not land where asked
    KELVO_ERR_FILE_WRITE = -7, // a header size could not be written
    KELVO_ERR_FILE_CLOSE = -4, // the output file could not be closed
};

// Clears the peaks, the pause flag, the data byte count and the running state of the last
// capture. Call it immediately before every KelvoStartMonitorA, never while one runs.
// Always returns 0.
KELVO_EXPORT int KelvoInitialize(void);

// Starts capturing from the system's default capture device. channels 1 records 8-bit
// unsigned mono, 2 records 16-bit signed stereo; sampleRate is in frames per second.
// With writeFile non-zero the audio goes into a PCM WAV file at fileName (created, or
// emptied when it exists); with writeFile 0 fileName is not read and only the peaks move.
// Returns 0 or one of the start codes; a failed start leaves nothing held.
KELVO_EXPORT int KelvoStartMonitorA(int writeFile, uint32_t channels, uint32_t sampleRate,
                                    const char* fileName);

// Stops the running capture: waits for both buffers, closes the device and completes the
// WAV header. Returns 0 when nothing runs. On a failure everything is still released and
// the first failing step's code is returned.
KELVO_EXPORT int KelvoStopMonitor(void);

// Flips the pause flag, whatever the state; while it is set, captured audio is measured but
// not written. Takes effect from the next buffer. Always returns 0.
KELVO_EXPORT int KelvoTogglePause(void);

// Latest peak magnitude of the left or right channel, 0..32767 in 16-bit sample units.
// Safe to call at any time; reading does not reset the value.
KELVO_EXPORT int KelvoPeakGetValueLeft(void);
KELVO_EXPORT int KelvoPeakGetValueRight(void);

#ifdef __cplusplus
}
#endif

#endif
