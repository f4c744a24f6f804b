#include "recorder/shows/show_apply.h"

#include <QComboBox>

namespace kelvo {

void applyShowRecord(const LoadedShowRecord& r, ShowControls& controls) {
    if (r.startTime)
        controls.setStartTime(*r.startTime);
    if (r.stopTime)
        controls.setStopTime(*r.stopTime);
    if (r.outputFormat)
        controls.setOutputFormat(*r.outputFormat);
    if (r.mp3Quality)
        controls.setMp3Quality(*r.mp3Quality);
    if (r.sampleRate)
        controls.setSampleRate(*r.sampleRate);
    if (r.channels)
        controls.setChannels(*r.channels);
    if (r.windowLeft || r.windowTop)
        controls.moveWindow(r.windowLeft, r.windowTop);
    if (r.webcastAddress)
        controls.setWebcastAddress(*r.webcastAddress);
    if (r.inputLevel && *r.inputLevel >= kMinInputLevel && *r.inputLevel <= kMaxInputLevel)
        controls.setInputLevel(*r.inputLevel);
    if (r.wmaQuality)
        controls.setWmaQuality(*r.wmaQuality);
    if (r.sourceName)
        controls.setSourceName(*r.sourceName);
    for (int day = 0; day < kWeekdays; ++day) {
        const auto& value = r.weekdays[day];
        if (value && (*value == 0 || *value == 1))
            controls.setWeekday(day, *value == 1);
    }
    controls.updateFormatDependentLists();
    controls.selectSourceByHeldName();
}

bool setListTextIfEntry(QComboBox& list, const QString& text) {
    const int index = list.findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0)
        return false;
    list.setCurrentIndex(index);
    return true;
}

} // namespace kelvo
