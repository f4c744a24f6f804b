// Names of the recordings: every recording of a show gets the show's name and the moment it
// started, so recordings sort by show and never need to be named by hand.
#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

namespace kelvo {

// The present local date and time; injectable so names can be tested at any moment.
using LocalClock = std::function<QDateTime()>;
LocalClock systemClock();

inline constexpr const char* kSoundFolder = "soundfiles";
// The show an empty show name stands for.
inline constexpr char kDefaultShowName[] = "Default";

// "soundfiles/SHOW-mm-dd-yy-hh-mm-ss.wav" with the hour 00..23. The show name is used
// verbatim (an extension it carries stays); an empty one stands for the default show.
QString recordingFileName(const QString& showName, const QDateTime& startedAt);

// The path the engine writes to: the data folder, "/" and the relative name.
QString recordingFilePath(const QString& dataFolder, const QString& fileName);

} // namespace kelvo
