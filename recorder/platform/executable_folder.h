// Where the running program lives: the engine library and encoder.bat are looked for there
// first, and the recorder keeps its configurations and soundfiles folders beside it.
#pragma once

#include <string>

namespace kelvo {

// Folder of the running executable (from /proc/self/exe), without a trailing "/".
// Empty when the kernel cannot tell, which happens only without /proc.
std::string executableFolder();

} // namespace kelvo
