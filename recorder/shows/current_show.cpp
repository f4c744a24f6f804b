#include "recorder/shows/current_show.h"

#include "recorder/shows/show_store.h"

namespace kelvo {

ShowSnapshot CurrentShow::snapshot() const {
    return {name_, readableShowName(name_), settings_};
}

void CurrentShow::setName(std::string name) {
    name_ = std::move(name);
}

void CurrentShow::load(const ShowSettings& settings) {
    settings_ = settings;
    emit loaded();
}

template <typename T> void CurrentShow::set(T& setting, const T& value, ShowField field) {
    if (setting == value) {
        return;
    }
    setting = value;
    emit changed(field);
}

void CurrentShow::setStartTime(TimeOfDay time) {
    set(settings_.file.startTime, time, ShowField::StartTime);
}

void CurrentShow::setStopTime(TimeOfDay time) {
    set(settings_.file.stopTime, time, ShowField::StopTime);
}

void CurrentShow::setOutputFormat(const std::string& text) {
    set(settings_.file.outputFormat, text, ShowField::OutputFormat);
}

void CurrentShow::setMp3Quality(const std::string& text) {
    set(settings_.file.mp3Quality, text, ShowField::Mp3Quality);
}

void CurrentShow::setSampleRate(const std::string& text) {
    set(settings_.file.sampleRate, text, ShowField::SampleRate);
}

void CurrentShow::setChannels(const std::string& text) {
    set(settings_.file.channels, text, ShowField::Channels);
}

void CurrentShow::setWindowPosition(float leftTwips, float topTwips) {
    ShowRecord& file = settings_.file;
    if (file.windowLeft == leftTwips && file.windowTop == topTwips) {
        return;
    }
    file.windowLeft = leftTwips;
    file.windowTop = topTwips;
    emit changed(ShowField::WindowPosition);
}

void CurrentShow::setWebcastAddress(const std::string& address) {
    set(settings_.file.webcastAddress, address, ShowField::WebcastAddress);
}

void CurrentShow::setInputLevel(std::int32_t level) {
    set(settings_.file.inputLevel, level, ShowField::InputLevel);
}

void CurrentShow::setWmaQuality(const std::string& text) {
    set(settings_.file.wmaQuality, text, ShowField::WmaQuality);
}

void CurrentShow::setSourceName(const std::string& name) {
    set(settings_.file.sourceName, name, ShowField::SourceName);
}

void CurrentShow::setWeekday(int day, bool checked) {
    if (day < 0 || day >= kWeekdays) {
        return;
    }
    set(settings_.file.weekdays[static_cast<std::size_t>(day)],
        static_cast<std::int16_t>(checked ? 1 : 0), ShowField::Weekdays);
}

void CurrentShow::setSide(const ShowSideSettings& side) {
    set(settings_.side, side, ShowField::Side);
}

void CurrentShow::setWebcast(const WebcastSettings& webcast) {
    ShowSideSettings side = settings_.side;
    setWebcastSettings(side, webcast);
    setSide(side);
}

void CurrentShow::setTimeZone(const std::string& zone) {
    ShowSideSettings side = settings_.side;
    setTimeZoneSetting(side, zone);
    setSide(side);
}

} // namespace kelvo
