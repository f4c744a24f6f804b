#include "recorder/shows/show_file.h"

#include "recorder/shows/text_encoding.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>

namespace kelvo {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != prefix[i])
            return false;
    }
    return true;
}

// One or two decimal digits.
std::optional<int> takeTimePart(std::string_view& text) {
    std::size_t digits = 0;
    while (digits < text.size() && digits < 2 && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    if (digits == 0)
        return std::nullopt;
    int value = 0;
    for (std::size_t i = 0; i < digits; ++i)
        value = value * 10 + (text[i] - '0');
    text.remove_prefix(digits);
    return value;
}

std::optional<double> parseNumber(std::string_view text) {
    text = trimBlanks(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    double value = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

double roundHalfToEven(double value) {
    if (std::fabs(value - std::trunc(value)) == 0.5)
        return 2.0 * std::round(value / 2.0);
    return std::round(value);
}

template <typename Int> std::optional<Int> parseWhole(std::string_view text) {
    const auto number = parseNumber(text);
    if (!number)
        return std::nullopt;
    const double rounded = roundHalfToEven(*number);
    if (rounded < static_cast<double>(std::numeric_limits<Int>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<Int>::max()))
        return std::nullopt;
    return static_cast<Int>(rounded);
}

// Positions beyond any screen are clamped later against the real screens, so here they
// only have to fit.
std::optional<std::int32_t> parsePosition(std::string_view text) {
    const auto number = parseNumber(text);
    if (!number)
        return std::nullopt;
    const double limit = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(roundHalfToEven(*number), -limit, limit));
}

bool isControl(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

void appendText(std::string& line, std::string_view text) {
    line += '"';
    for (const char c : text)
        if (!isControl(c))
            line += c == '"' ? '\'' : c;
    line += '"';
}

// Splits the text into fields the way the file has always been read.
class FieldReader {
public:
    explicit FieldReader(std::string_view text) : text_(text) {}

    // Skips the blank lines and blanks before a record; false at the end of the text.
    bool startRecord() {
        while (pos_ < text_.size() &&
               (isBlank(text_[pos_]) || text_[pos_] == '\r' || text_[pos_] == '\n'))
            ++pos_;
        return pos_ < text_.size();
    }

    // Empty when the text ends before the field does.
    std::optional<std::string_view> nextField() {
        while (pos_ < text_.size() && isBlank(text_[pos_]))
            ++pos_;
        if (pos_ == text_.size())
            return std::nullopt;
        std::string_view value;
        if (text_[pos_] == '"') {
            const std::size_t close = text_.find('"', pos_ + 1);
            if (close == std::string_view::npos) {
                pos_ = text_.size();
                return std::nullopt;
            }
            value = text_.substr(pos_ + 1, close - pos_ - 1);
            pos_ = close + 1;
            pos_ = std::min(text_.find_first_of(",\r\n", pos_), text_.size());
        } else {
            const std::size_t stop = std::min(text_.find_first_of(",\r\n", pos_), text_.size());
            value = trimBlanks(text_.substr(pos_, stop - pos_));
            pos_ = stop;
        }
        if (pos_ < text_.size()) {
            const char end = text_[pos_++];
            if (end == '\r' && pos_ < text_.size() && text_[pos_] == '\n')
                ++pos_;
        }
        return value;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

LoadedShowRecord convertFields(const std::array<std::string_view, kShowFields>& f) {
    LoadedShowRecord r;
    r.startTime = parseShowTime(f[0]);
    r.stopTime = parseShowTime(f[1]);
    r.outputFormat = withoutControlCharacters(f[2]);
    r.sampleRate = withoutControlCharacters(f[3]);
    r.mp3Quality = withoutControlCharacters(f[4]);
    r.channels = withoutControlCharacters(f[5]);
    r.windowLeft = parsePosition(f[6]);
    r.windowTop = parsePosition(f[7]);
    r.sourceName = withoutControlCharacters(f[8]);
    r.inputLevel = parseWhole<std::int32_t>(f[9]);
    r.webcastAddress = withoutControlCharacters(f[10]);
    r.wmaQuality = withoutControlCharacters(f[11]);
    for (int day = 0; day < kWeekdays; ++day)
        r.weekdays[day] = parseWhole<std::int16_t>(f[12 + day]);
    return r;
}

} // namespace

std::string formatShowTime(TimeOfDay time) {
    const int hour12 = time.hour % 12 == 0 ? 12 : time.hour % 12;
    std::string text = std::to_string(hour12) + ':';
    const auto twoDigits = [&text](int value) {
        text += static_cast<char>('0' + value / 10 % 10);
        text += static_cast<char>('0' + value % 10);
    };
    twoDigits(time.minute);
    text += ':';
    twoDigits(time.second);
    text += time.hour < 12 ? " AM" : " PM";
    return text;
}

std::optional<TimeOfDay> parseShowTime(std::string_view text) {
    text = trimBlanks(text);
    const auto hour = takeTimePart(text);
    if (!hour || text.empty() || text.front() != ':')
        return std::nullopt;
    text.remove_prefix(1);
    const auto minute = takeTimePart(text);
    if (!minute)
        return std::nullopt;
    int second = 0;
    if (!text.empty() && text.front() == ':') {
        text.remove_prefix(1);
        const auto s = takeTimePart(text);
        if (!s)
            return std::nullopt;
        second = *s;
    }
    text = trimBlanks(text);
    if (*minute > 59 || second > 59)
        return std::nullopt;
    if (text.empty()) {
        if (*hour > 23)
            return std::nullopt;
        return TimeOfDay{*hour, *minute, second};
    }
    if (text.size() != 2 || !(startsWithNoCase(text, "AM") || startsWithNoCase(text, "PM")))
        return std::nullopt;
    if (*hour < 1 || *hour > 12)
        return std::nullopt;
    const bool pm = startsWithNoCase(text, "PM");
    return TimeOfDay{*hour % 12 + (pm ? 12 : 0), *minute, second};
}

std::string formatShowNumber(float value) {
    if (!std::isfinite(value) || value == 0)
        return "0";
    // Seven significant digits as d.dddddde±x, then laid out without the exponent.
    char buffer[32];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 6);
    const std::string_view scientific(buffer, result.ptr - buffer);
    const std::size_t e = scientific.find('e');
    std::string_view mantissa = scientific.substr(0, e);
    int exponent = 0;
    std::string_view exponentText = scientific.substr(e + 1);
    if (exponentText.front() == '+')
        exponentText.remove_prefix(1);
    std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);

    std::string text;
    if (mantissa.front() == '-') {
        text += '-';
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (const char c : mantissa)
        if (c != '.')
            digits += c;
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    const int point = exponent + 1; // digits before the decimal point
    if (point <= 0) {
        text += "0.";
        text.append(static_cast<std::size_t>(-point), '0');
        text += digits;
    } else if (static_cast<std::size_t>(point) >= digits.size()) {
        text += digits;
        text.append(static_cast<std::size_t>(point) - digits.size(), '0');
    } else {
        text += digits.substr(0, point);
        text += '.';
        text += digits.substr(point);
    }
    return text;
}

std::string withoutControlCharacters(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::copy_if(text.begin(), text.end(), std::back_inserter(out),
                 [](char c) { return !isControl(c); });
    return out;
}

std::string writeShowRecord(const ShowRecord& r) {
    std::string line;
    appendText(line, formatShowTime(r.startTime));
    line += ',';
    appendText(line, formatShowTime(r.stopTime));
    for (const std::string* text : {&r.outputFormat, &r.sampleRate, &r.mp3Quality, &r.channels}) {
        line += ',';
        appendText(line, *text);
    }
    line += ',' + formatShowNumber(r.windowLeft);
    line += ',' + formatShowNumber(r.windowTop);
    line += ',';
    appendText(line, r.sourceName);
    line += ',' + std::to_string(r.inputLevel);
    line += ',';
    appendText(line, r.webcastAddress);
    line += ',';
    appendText(line, r.wmaQuality);
    for (const std::int16_t day : r.weekdays)
        line += ',' + std::to_string(day);
    line += "\r\n";
    return line;
}

ShowFileContent readShowFile(std::string_view bytes) {
    const std::string text = showFileText(bytes);
    FieldReader reader(text);
    ShowFileContent content;
    while (reader.startRecord()) {
        std::array<std::string_view, kShowFields> fields;
        for (auto& field : fields) {
            const auto value = reader.nextField();
            if (!value) {
                content.endsInsideRecord = true;
                return content;
            }
            field = *value;
        }
        content.record = convertFields(fields);
        ++content.completeRecords;
    }
    return content;
}

} // namespace kelvo
