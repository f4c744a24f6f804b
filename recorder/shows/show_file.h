// The show file: one line of 19 comma-separated fields ended by CR LF.
//
// Pure functions over bytes; the file system lives in show_store. The reader never fails:
// whatever it cannot use is left out, and the window keeps the value it had.
#pragma once

#include "recorder/shows/show_record.h"

#include <optional>
#include <string>
#include <string_view>

namespace kelvo {

inline constexpr int kShowFields = 19;

// "1:00:00 AM", "12:00:00 PM": the regional long-time form the files have always used,
// whatever the locale we run under.
std::string formatShowTime(TimeOfDay time);

// Accepts the 12-hour form above and the 24-hour form "13:05:00"; seconds may be left out.
std::optional<TimeOfDay> parseShowTime(std::string_view text);

// Decimal with "." whatever the locale, no decimal point when whole, at most seven
// significant digits, never an exponent: 1500.5f gives "1500.5". Not-a-number and infinities
// give "0".
std::string formatShowNumber(float value);

// Text without control characters: a CR or LF would split a show file's record, and none of
// them belongs in a name, an address or a list entry.
std::string withoutControlCharacters(std::string_view text);

// Fields 1 to 19 joined by commas, CR LF at the end. A double quote inside a text would end
// the field early on reading and shift every field after it, so it is written as "'";
// control characters are left out.
std::string writeShowRecord(const ShowRecord& record);

struct ShowFileContent {
    // The last complete record; empty when the file holds none.
    std::optional<LoadedShowRecord> record;
    int completeRecords = 0;
    // The file ended inside a record, which was left out.
    bool endsInsideRecord = false;
};

// Bytes as stored: UTF-8, or Windows-1252 when they are not valid UTF-8. Text fields come
// without control characters.
ShowFileContent readShowFile(std::string_view bytes);

} // namespace kelvo
