// "Start KelvoRecorder when I log in": a checkable action for the show list's menu that
// writes or removes the desktop's autostart entry, the setting kept in the user's settings.
// The entry on disk has the last word: one removed through the desktop's own settings turns
// the setting off, and one naming another program path (the program moved or was updated)
// is written anew.
//
// The first time the user ticks a weekday of a scheduled show while the setting is off, the
// status line offers it, once for good.
#pragma once

#include "recorder/shows/current_show.h"

#include <QObject>

#include <filesystem>
#include <functional>

class QAction;
class QSettings;

namespace kelvo {

class LoginStart : public QObject {
public:
    using Settings = std::function<QSettings()>;
    using Tell = std::function<void(const QString&)>;

    // `entry` is the autostart entry's path and `program` the program it starts; `tell`
    // writes the status line.
    LoginStart(std::filesystem::path entry, std::filesystem::path program, Settings settings,
               Tell tell, QObject* parent = nullptr);

    QAction* action() const { return action_; }
    // Follows the show's weekdays from now on, for the offer.
    void watch(const CurrentShow& show);

private:
    void set(bool on);
    void offerFor(const CurrentShow& show);

    std::filesystem::path entry_;
    std::filesystem::path program_;
    Settings settings_;
    Tell tell_;
    QAction* action_;
};

} // namespace kelvo
