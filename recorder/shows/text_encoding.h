// Show files written by this program are UTF-8; older ones come in the Windows ANSI code
// page. Everything past the reader is UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace kelvo {

// Strict: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view bytes);

// Windows-1252, the ANSI code page those files were written in; it agrees with Latin-1
// except for 0x80 to 0x9F, where it has printable characters such as the euro sign.
std::string windows1252ToUtf8(std::string_view bytes);

// The text of a show file as UTF-8: valid UTF-8 stays as it is (without a leading byte-order
// mark), anything else is read as Windows-1252.
std::string showFileText(std::string_view bytes);

} // namespace kelvo
