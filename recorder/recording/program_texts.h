// Texts that recording, monitoring and the window all show, kept in one place so they
// cannot drift apart.
#pragma once

namespace kelvo {

// The title of every message box and notification.
inline constexpr char kProgramTitle[] = "KelvoRecorder";
// The capture engine is held by another program (or by ourselves, still monitoring).
inline constexpr char kEngineBusyMessage[] =
    "KelvoInitializeMonitor: Audio Channel is in use by another Application";

} // namespace kelvo
