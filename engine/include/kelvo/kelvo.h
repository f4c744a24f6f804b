// kelvo: the capture engine of KelvoRecorder.
//
// One capture at a time, held in process-wide state; there is no handle. The exports are
// called from one thread at a time (a start may run on a thread of its own while the
// caller's goes on); KelvoGetStatus, the peaks and KelvoCancelStart may be called from any
// thread at any time. The engine adds a device thread and a capture worker of its own per
// running capture, and a thread that reopens a lost device. No export but a stream's start
// blocks for long; KelvoStopMonitor waits for the capture buffers at most about 120 ms and
// never for a device that is gone. Failures are only ever reported as the negative codes
// below (kelvo_strerror names them); the engine prints and logs nothing.
#ifndef KELVO_KELVO_H
#define KELVO_KELVO_H

#include <stddef.h>
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
    // KelvoStartMonitorA with a stream address set (KelvoSetStreamA)
    KELVO_ERR_STREAM_UNREACHABLE = -30, // no connection: refused, timed out, no such host
    KELVO_ERR_STREAM_REFUSED = -31,     // the server answered with an error (404 and the like)
    KELVO_ERR_STREAM_NOT_AUDIO = -32,   // the address is no audio stream (a web page), or a
                                        // playlist with no network address in it
    KELVO_ERR_START_CANCELLED = -34,    // KelvoCancelStart ended the connection

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

    // KelvoGetStatus
    KELVO_ERR_STATUS_ARGUMENT = -2, // no struct, or a size smaller than the first version

    // KelvoSetSourceA
    KELVO_ERR_SOURCE_NAME = -12, // a source name longer than KELVO_MAX_SOURCE_NAME bytes

    // KelvoSetStreamA
    KELVO_ERR_STREAM_ADDRESS = -33,     // not an http:// or https:// address
    KELVO_ERR_STREAM_UNSUPPORTED = -35, // no stream module (libkelvo_stream.so) beside the engine
};

// Longest source name KelvoSetSourceA takes, in bytes, without the terminating zero.
#define KELVO_MAX_SOURCE_NAME 1023

// Where the capture device stands. A recording outlives its device: when capture fails
// mid-recording the engine keeps the file open, reopens the device about every 250 ms and
// writes silence for the time it was away, so the file keeps the recording's timeline.
//
// The timeline: at any moment the frames in a recording's files are the time since its first
// captured frame times the rate, within 150 ms, on a clock that goes on while the machine
// sleeps. Audio is placed by the device's own timing; whatever the device could not deliver
// (it was away, its buffers overflowed, the process was frozen) is silence, counted once.
// A single gap writes at most 60 s of silence; the recording then goes on in the next part.
enum {
    KELVO_DEVICE_IDLE = 0,           // nothing runs, and the last capture ended with its device
    KELVO_DEVICE_CAPTURING = 1,      // audio is arriving
    KELVO_DEVICE_RECONNECTING = 2,   // the device failed; silence is written while it is reopened
    KELVO_DEVICE_LOST = 3,           // the last capture was stopped while its device was away
    KELVO_DEVICE_SOURCE_MISSING = 4, // the sound server answers but has no source of the chosen
                                     // name; silence is written until it appears
};

// What the running capture, or the last one after it stopped, has done. Counters start
// from zero at KelvoStartMonitorA and keep their final values after KelvoStopMonitor.
// Versioned by size: fields are only ever appended, so an older caller passing a smaller
// size gets the fields it knows.
typedef struct KelvoStatus {
    int32_t deviceState;     // KELVO_DEVICE_*
    int32_t lastWriteError;  // errno of the last failed write to the file (ENOSPC, EDQUOT,
                             // EIO, EFBIG, ...), 0 when every write succeeded
    uint64_t framesCaptured; // frames that came from the device
    uint64_t framesFilled;   // frames of silence written for time the device was away
    uint64_t bytesWritten;   // data bytes that reached the recording's files, all parts
    uint32_t gaps;           // times capture was interrupted and silence filled in
    uint32_t parts;          // files the recording spans: NAME.wav, NAME-2.wav, ... (0: none)
    uint64_t lastGapFrames;  // length of the most recent gap, including one still open
    // Levels of everything captured, in 16-bit sample units (8-bit samples count x256).
    uint64_t framesSilent;    // frames in buffers with no sample above -50 dBFS (magnitude 104)
    uint64_t silentRunFrames; // frames of the silence under way now (0 while there is sound)
    uint64_t sumOfSquares;    // of every captured sample: RMS = sqrt(sumOfSquares / samples)
    uint64_t samples;         // samples in sumOfSquares (frames x channels)
    uint32_t highestPeak;     // highest peak so far, 0..32767
    uint32_t reserved;        // 0
    int64_t timelineStartNs;  // CLOCK_BOOTTIME when the first frame was captured, by the
                              // device's timing: where the timeline's time runs from (0: not yet)
} KelvoStatus;

// A buffer whose every sample is at most this magnitude counts as silence (-50 dBFS).
#define KELVO_SILENCE_PEAK 104

// Clears the peaks, the pause flag, the data byte count and the running state of the last
// capture. Call it immediately before every KelvoStartMonitorA, never while one runs.
// Always returns 0.
KELVO_EXPORT int KelvoInitialize(void);

// Chooses the sound server source the following starts record from, by its server name
// (for example "speakers.monitor"; not its description). NULL or "" means the server's
// default source. The server's default is never changed. A capture already running goes on
// from its source. A source of that name that does not exist when a capture starts is not
// a failure: the capture records silence (KELVO_DEVICE_SOURCE_MISSING) until it appears.
// Where no sound server runs the engine captures from ALSA's default device and the name is
// not used. Returns 0, or KELVO_ERR_SOURCE_NAME for a name that is too long (nothing changes).
KELVO_EXPORT int KelvoSetSourceA(const char* sourceName);

// Starts capturing from the chosen sound server source (see KelvoSetSourceA), or where no
// sound server runs from ALSA's default capture device. channels 1 records 8-bit
// unsigned mono, 2 records 16-bit signed stereo; sampleRate is in frames per second.
// With writeFile non-zero the audio goes into a PCM WAV file at fileName (created, or
// emptied when it exists); with writeFile 0 fileName is not read and only the peaks move.
// Returns 0 or one of the start codes; a failed start leaves nothing held.
KELVO_EXPORT int KelvoStartMonitorA(int writeFile, uint32_t channels, uint32_t sampleRate,
                                    const char* fileName);

// Stops the running capture: waits for both 50 ms buffers while the device delivers them
// (so even a stop right after the start keeps about 100 ms), closes the device and completes
// the WAV header. Returns 0 when nothing runs. On a failure everything is still released and
// the first failing step's code is returned.
KELVO_EXPORT int KelvoStopMonitor(void);

// Flips the pause flag, whatever the state; while it is set, captured audio is measured but
// not written. Takes effect from the next buffer. Always returns 0.
KELVO_EXPORT int KelvoTogglePause(void);

// Latest peak magnitude of the left or right channel, 0..32767 in 16-bit sample units.
// Safe to call at any time; reading does not reset the value.
KELVO_EXPORT int KelvoPeakGetValueLeft(void);
KELVO_EXPORT int KelvoPeakGetValueRight(void);

// Fills *status with the first `size` bytes of the engine's KelvoStatus (pass
// sizeof(KelvoStatus)). Safe to call at any time from the caller's thread; it only reads
// atomics and never blocks. Returns 0, or KELVO_ERR_STATUS_ARGUMENT for a null pointer or
// a size below that of the first two fields.
KELVO_EXPORT int KelvoGetStatus(KelvoStatus* status, size_t size);

// Stream capture. KelvoSetStreamA(url) makes the following KelvoStartMonitorA record that
// stream instead of a sound source; NULL or "" returns to the sound source. Only http://
// and https:// addresses are taken (else KELVO_ERR_STREAM_ADDRESS, and nothing changes):
// Icecast and Shoutcast streams, HLS (.m3u8), and .m3u, .pls and .xspf playlists, which are
// followed to their first http or https entry (at most three playlists deep, 64 KiB each).
// The stream is decoded and resampled to the recording's format and recorded like a sound
// source: same file, counters, peaks and pause.
//
// The start connects before it returns, within 10 s, and fails with
// KELVO_ERR_STREAM_UNREACHABLE, _REFUSED or _NOT_AUDIO when the stream cannot be had. A
// connection that drops later is a device loss: deviceState turns
// KELVO_DEVICE_RECONNECTING, silence fills the time, and the stream is reconnected after
// 0.25 s, then less and less often, down to every 4 s. A connection that delivers nothing
// for 10 s counts as dropped. A stop never waits on the network for more than about 0.2 s.
// Stream titles (ICY metadata) go into a cue sheet beside the WAV file, NAME.cue, one track
// per title at the position in the file where it began; the sheet is made with the first
// title. Returns 0, KELVO_ERR_STREAM_ADDRESS, or KELVO_ERR_STREAM_UNSUPPORTED when the
// engine's stream module, libkelvo_stream.so in its own folder, is missing (it is loaded
// with the first stream, so recordings of a sound source never load FFmpeg).
KELVO_EXPORT int KelvoSetStreamA(const char* url);

// Makes a stream's start under way on another thread give up its connection at once: that
// KelvoStartMonitorA returns KELVO_ERR_START_CANCELLED, having recorded nothing. A start
// that begins after the call connects as usual. Safe from any thread; always returns 0.
KELVO_EXPORT int KelvoCancelStart(void);

// With keep non-zero, a stream recording into NAME.wav also keeps the stream's own packets,
// unchanged, in NAME.mp3, NAME.aac, NAME.ogg or NAME.opus after the stream's codec (other
// codecs keep none). Applies from the next start; always returns 0.
KELVO_EXPORT int KelvoKeepStreamCopy(int keep);

// A short English description of a start or stop code, for messages. Some codes mean one
// thing from KelvoStartMonitorA and another from KelvoStopMonitor; both are named.
static inline const char* kelvo_strerror(int code) {
    switch (code) {
    case KELVO_OK:
        return "success";
    case KELVO_ERR_ALREADY_RUNNING:
        return "a capture is already running";
    case KELVO_ERR_WORKER:
        return "the capture worker could not be started";
    case KELVO_ERR_STATUS_ARGUMENT:
        return "no status structure, or one too small";
    case KELVO_ERR_SOURCE_NAME:
        return "the source name is too long";
    case KELVO_ERR_OPEN_DEVICE:
        return "the capture device could not be opened (busy, missing, or the format is "
               "not supported)";
    case KELVO_ERR_PREPARE_BUFFER: // also KELVO_ERR_FILE_CLOSE
        return "a capture buffer could not be prepared (at start), or the output file could "
               "not be closed (at stop)";
    case KELVO_ERR_QUEUE_BUFFER:
        return "a capture buffer could not be queued";
    case KELVO_ERR_CREATE_FILE:
        return "the output file could not be created";
    case KELVO_ERR_START_CAPTURE: // also KELVO_ERR_FILE_SEEK
        return "the capture device would not start (at start), or a seek in the output file "
               "failed (at stop)";
    case KELVO_ERR_FILE_WRITE:
        return "the sizes in the output file's header could not be written";
    case KELVO_ERR_RESET_DEVICE:
        return "the capture device could not be stopped";
    case KELVO_ERR_RELEASE_INVALID_HANDLE:
        return "a capture buffer could not be released: invalid device";
    case KELVO_ERR_RELEASE_NO_DRIVER:
        return "a capture buffer could not be released: no driver";
    case KELVO_ERR_RELEASE_NO_MEMORY:
        return "a capture buffer could not be released: out of memory";
    case KELVO_ERR_RELEASE_STILL_QUEUED:
        return "a capture buffer could not be released: still queued";
    case KELVO_ERR_RELEASE_OTHER:
        return "a capture buffer could not be released";
    case KELVO_ERR_CLOSE_DEVICE:
        return "the capture device could not be closed";
    case KELVO_ERR_STREAM_UNREACHABLE:
        return "the stream could not be reached (no connection, or no answer in time)";
    case KELVO_ERR_STREAM_REFUSED:
        return "the stream's server answered with an error (the address may be wrong)";
    case KELVO_ERR_STREAM_NOT_AUDIO:
        return "the address is not an audio stream";
    case KELVO_ERR_START_CANCELLED:
        return "the start was cancelled while it connected to the stream";
    case KELVO_ERR_STREAM_ADDRESS:
        return "only http:// and https:// stream addresses can be recorded";
    case KELVO_ERR_STREAM_UNSUPPORTED:
        return "this engine cannot record streams (libkelvo_stream.so is missing)";
    default:
        return "unknown engine code";
    }
}

#ifdef __cplusplus
}
#endif

#endif
