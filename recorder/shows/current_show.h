// The current show: its name and its settings, with one owner. The window's controls show it
// and change it through ShowBinding; the show panel loads and saves it; a recording takes a
// snapshot of it at its start. Nothing else holds a show's settings.
//
// Threads: the window's thread only.
#pragma once

#include "recorder/shows/show_settings.h"

#include <QObject>

#include <string>

namespace kelvo {

// The settings one by one, in the order a loaded show is given to the controls.
enum class ShowField {
    StartTime,
    StopTime,
    OutputFormat,
    Mp3Quality,
    SampleRate,
    Channels,
    WindowPosition,
    WebcastAddress,
    InputLevel,
    WmaQuality,
    SourceName,
    Weekdays,
    Side,
};

class CurrentShow : public QObject {
    Q_OBJECT

public:
    explicit CurrentShow(QObject* parent = nullptr) : QObject(parent) {}

    // The show file's name inside configurations, as bytes on disk; empty until the first
    // load, which makes it "Default" at the least.
    const std::string& name() const { return name_; }
    const ShowSettings& settings() const { return settings_; }
    const ShowRecord& file() const { return settings_.file; }
    // What a recording keeps of the show it records.
    ShowSnapshot snapshot() const;

    void setName(std::string name);
    // A loaded show: every setting at once. Emits loaded() even when nothing differs, since
    // a load gives every setting to its control again (the source goes to the mixer anew).
    void load(const ShowSettings& settings);

    // One setting, changed by its control or by the program; changed() when it differs.
    void setStartTime(TimeOfDay time);
    void setStopTime(TimeOfDay time);
    void setOutputFormat(const std::string& text);
    void setMp3Quality(const std::string& text);
    void setSampleRate(const std::string& text);
    void setChannels(const std::string& text);
    void setWindowPosition(float leftTwips, float topTwips);
    void setWebcastAddress(const std::string& address);
    void setInputLevel(std::int32_t level);
    void setWmaQuality(const std::string& text);
    void setSourceName(const std::string& name);
    // day: 0 Sunday to 6 Saturday.
    void setWeekday(int day, bool checked);
    void setSide(const ShowSideSettings& side);
    // The webcast settings among the side settings; changed(Side) when they differ.
    WebcastSettings webcast() const { return webcastSettings(settings_.side); }
    void setWebcast(const WebcastSettings& webcast);
    // The zone of the show's times among the side settings, empty for the computer's;
    // changed(Side) when it differs.
    std::string timeZone() const { return timeZoneSetting(settings_.side); }
    void setTimeZone(const std::string& zone);

signals:
    void changed(kelvo::ShowField field);
    void loaded();

private:
    template <typename T> void set(T& setting, const T& value, ShowField field);

    std::string name_;
    ShowSettings settings_;
};

} // namespace kelvo
