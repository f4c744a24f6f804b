// Show files come from anywhere: the command line, drops, hand edits. Whatever they hold,
// the reader must come back, hand out only UTF-8, and whatever the saver then writes from
// the values must load again as the same values.
#include "recorder/shows/show_file.h"
#include "recorder/shows/text_encoding.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using kelvo::LoadedShowRecord;
using kelvo::ShowRecord;

void require(bool condition) {
    if (!condition)
        std::abort();
}

std::string text(const std::optional<std::string>& value) {
    require(!value || kelvo::isValidUtf8(*value));
    return value.value_or("");
}

std::string asWritten(std::string value) {
    for (char& c : value)
        if (c == '"')
            c = '\'';
    return value;
}

void requireSamePosition(std::int32_t original, const std::optional<std::int32_t>& back) {
    require(back.has_value());
    const double difference = std::fabs(static_cast<double>(*back) - original);
    require(difference <= 1.0 + std::fabs(static_cast<double>(original)) * 1e-6);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const kelvo::ShowFileContent content = kelvo::readShowFile(bytes);
    require(content.record.has_value() == (content.completeRecords > 0));
    if (!content.record)
        return 0;
    const LoadedShowRecord& in = *content.record;

    ShowRecord out;
    out.startTime = in.startTime.value_or(out.startTime);
    out.stopTime = in.stopTime.value_or(out.stopTime);
    out.outputFormat = text(in.outputFormat);
    out.sampleRate = text(in.sampleRate);
    out.mp3Quality = text(in.mp3Quality);
    out.channels = text(in.channels);
    const std::int32_t left = in.windowLeft.value_or(0);
    const std::int32_t top = in.windowTop.value_or(0);
    out.windowLeft = static_cast<float>(left);
    out.windowTop = static_cast<float>(top);
    out.sourceName = text(in.sourceName);
    out.inputLevel = in.inputLevel.value_or(50);
    out.webcastAddress = text(in.webcastAddress);
    out.wmaQuality = text(in.wmaQuality);
    for (int day = 0; day < kelvo::kWeekdays; ++day)
        out.weekdays[day] = in.weekdays[day].value_or(1);

    const kelvo::ShowFileContent again = kelvo::readShowFile(kelvo::writeShowRecord(out));
    require(again.completeRecords == 1 && !again.endsInsideRecord);
    const LoadedShowRecord& back = *again.record;
    require(back.startTime == out.startTime && back.stopTime == out.stopTime);
    require(back.outputFormat == asWritten(out.outputFormat));
    require(back.sampleRate == asWritten(out.sampleRate));
    require(back.mp3Quality == asWritten(out.mp3Quality));
    require(back.channels == asWritten(out.channels));
    requireSamePosition(left, back.windowLeft);
    requireSamePosition(top, back.windowTop);
    require(back.sourceName == asWritten(out.sourceName));
    require(back.inputLevel == out.inputLevel);
    require(back.webcastAddress == asWritten(out.webcastAddress));
    require(back.wmaQuality == asWritten(out.wmaQuality));
    for (int day = 0; day < kelvo::kWeekdays; ++day)
        require(back.weekdays[day] == out.weekdays[day]);
    return 0;
}
