// Texts that recording, monitoring and the window all show, kept in one place so they
// cannot drift apart.
#pragma once

#include <QString>

#include <functional>
#include <string>

namespace kelvo {

// Shows a message to the user, in a box titled kProgramTitle with only an OK button, and
// returns when it was acknowledged; tests collect them.
using MessageSink = std::function<void(const QString& text)>;

// The title of every message box and notification.
inline constexpr char kProgramTitle[] = "KelvoRecorder";
// The capture engine is held by another program (or by ourselves, still monitoring).
inline constexpr char kEngineBusyMessage[] =
    "KelvoInitializeMonitor: Audio Channel is in use by another Application";

// The engine library could not be loaded; `reason`, when known, says why.
inline QString engineMissingMessage(const std::string& reason) {
    QString text = QStringLiteral("The capture engine libkelvo.so could not be loaded, so nothing "
                                  "can be recorded or monitored.");
    if (!reason.empty())
        text += QStringLiteral("\n\n") + QString::fromStdString(reason);
    return text;
}

} // namespace kelvo
