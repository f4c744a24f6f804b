// Giving a loaded show to the window's controls, in the order the loader has always used:
// several controls' handlers depend on the ones set before them (the output format enables
// the MP3 quality list, the source list follows the held source name).
#pragma once

#include "recorder/shows/show_record.h"

#include <cstdint>
#include <optional>
#include <string>

class QComboBox;
class QString;

namespace kelvo {

inline constexpr std::int32_t kMinInputLevel = 0;
inline constexpr std::int32_t kMaxInputLevel = 100;

// What the main window offers the loader. Every setter runs the control's own handler, as a
// change by the user would.
class ShowControls {
public:
    virtual ~ShowControls() = default;

    virtual void setStartTime(TimeOfDay time) = 0;
    virtual void setStopTime(TimeOfDay time) = 0;
    // A list keeps its value when the text is not one of its entries (setListTextIfEntry).
    virtual void setOutputFormat(const std::string& text) = 0;
    virtual void setMp3Quality(const std::string& text) = 0;
    virtual void setSampleRate(const std::string& text) = 0;
    virtual void setChannels(const std::string& text) = 0;
    // In twips; a missing coordinate keeps the window's own. The window moves there as far
    // as the screens allow (reachableWindowPosition).
    virtual void moveWindow(std::optional<std::int32_t> leftTwips,
                            std::optional<std::int32_t> topTwips) = 0;
    // The held webcast address, then the webcast address box.
    virtual void setWebcastAddress(const std::string& address) = 0;
    // The held input level, then the input-level slider; always within 0 to 100.
    virtual void setInputLevel(std::int32_t level) = 0;
    // The held WMA quality, then the WMA quality list's text.
    virtual void setWmaQuality(const std::string& text) = 0;
    // The held source name, then the source list.
    virtual void setSourceName(const std::string& name) = 0;
    // day: 0 Sunday to 6 Saturday.
    virtual void setWeekday(int day, bool checked) = 0;
    virtual void updateFormatDependentLists() = 0;
    virtual void selectSourceByHeldName() = 0;
};

// Applies every field the reader could use and skips the rest: an input level outside 0 to
// 100 and a weekday value other than 0 or 1 are skipped too. Then updates the
// format-dependent lists and selects the source by the held name.
void applyShowRecord(const LoadedShowRecord& record, ShowControls& controls);

// Sets the list to the entry with exactly this text (letter case counts); false, leaving the
// list unchanged, when there is none.
bool setListTextIfEntry(QComboBox& list, const QString& text);

} // namespace kelvo
