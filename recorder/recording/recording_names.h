// Names of the recordings: every recording of a show gets the show's name and the moment it
// started, so recordings sort by show and never need to be named by hand. A recording never
// takes the name of an existing file.
#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

namespace kelvo {

// The present local date and time; injectable so names can be tested at any moment.
using LocalClock = std::function<QDateTime()>;
LocalClock systemClock();

inline constexpr const char* kSoundFolder = "soundfiles";
// The longest file name the usual Linux file systems take, in bytes.
inline constexpr int kMaxRecordingNameBytes = 255;
// Kept free in every name for the "-N" a taken name or a split recording adds.
inline constexpr int kSuffixRoomBytes = 8;

// "soundfiles/SHOW-mm-dd-yy-hh-mm-ss.wav" with the hour 00..23. The show name is used
// verbatim (an extension it carries stays); an empty one stands for the default show. A
// show name too long for a file name is cut, at a character boundary, so the name and a
// "-N" suffix fit in kMaxRecordingNameBytes.
QString recordingFileName(const QString& showName, const QDateTime& startedAt);

// The path the engine writes to: the data folder, "/" and the relative name.
QString recordingFilePath(const QString& dataFolder, const QString& fileName);

// The name of part `part` (1, 2, ...) of a recording that the engine split over several
// files: part 1 is the name itself, part N inserts "-N" before ".wav".
QString recordingPartName(const QString& fileName, int part);

// Claims a name for a new recording by creating its file, empty, so no other recording (nor
// a second instance of the program) can take it: `fileName` when it is free, otherwise the
// first free of "-2", "-3", ... before ".wav". On success returns 0 and sets fileName to
// the name claimed; otherwise returns the errno of the failed create.
int claimRecordingFile(const QString& dataFolder, QString& fileName);

} // namespace kelvo
