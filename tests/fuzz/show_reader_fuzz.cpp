// Show files come from anywhere: the command line, drops, hand edits. Whatever they hold,
// the reader must come back, hand out only UTF-8, and whatever the saver then writes from
// the values must load again as the same values.
#include "recorder/shows/show_file.h"
#include "recorder/shows/text_encoding.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition) {
    if (!condition)
        std::abort();
}

// The text for the saver, and how it must read back: a double quote is written as "'". No
// control character ever comes out of a file.
void text(const std::optional<std::string>& in, std::string& out,
          std::optional<std::string>& back) {
    require(!in || (kelvo::isValidUtf8(*in) && kelvo::withoutControlCharacters(*in) == *in));
    out = in.value_or("");
    back = out;
    std::ranges::replace(*back, '"', '\'');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto content = kelvo::readShowFile({reinterpret_cast<const char*>(data), size});
    require(content.record.has_value() == (content.completeRecords > 0));
    if (!content.record)
        return 0;
    const kelvo::LoadedShowRecord& in = *content.record;

    // out: what the saver gets; want: what must load back from it.
    kelvo::ShowRecord out;
    kelvo::LoadedShowRecord want;
    out.startTime = *(want.startTime = in.startTime.value_or(out.startTime));
    out.stopTime = *(want.stopTime = in.stopTime.value_or(out.stopTime));
    text(in.outputFormat, out.outputFormat, want.outputFormat);
    text(in.sampleRate, out.sampleRate, want.sampleRate);
    text(in.mp3Quality, out.mp3Quality, want.mp3Quality);
    text(in.channels, out.channels, want.channels);
    text(in.sourceName, out.sourceName, want.sourceName);
    text(in.webcastAddress, out.webcastAddress, want.webcastAddress);
    text(in.wmaQuality, out.wmaQuality, want.wmaQuality);
    out.windowLeft = static_cast<float>(in.windowLeft.value_or(0));
    out.windowTop = static_cast<float>(in.windowTop.value_or(0));
    out.inputLevel = *(want.inputLevel = in.inputLevel.value_or(50));
    for (int day = 0; day < kelvo::kWeekdays; ++day)
        out.weekdays[day] = *(want.weekdays[day] = in.weekdays[day].value_or(1));

    const auto again = kelvo::readShowFile(kelvo::writeShowRecord(out));
    require(again.completeRecords == 1 && !again.endsInsideRecord);
    kelvo::LoadedShowRecord back = *again.record;
    // Positions keep the seven significant digits the file holds.
    for (auto [written, read] :
         {std::pair{out.windowLeft, &back.windowLeft}, {out.windowTop, &back.windowTop}}) {
        require(read->has_value() &&
                std::fabs(**read - double{written}) <= 1.0 + std::fabs(double{written}) * 1e-6);
        read->reset();
    }
    require(back == want);
    return 0;
}
