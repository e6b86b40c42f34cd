#pragma once
#include <functional>
#include <string>

// Message-box styles and results as the numbers the windows use. Platform code hands each
// message with its style to a sink: the windows show it in a box, velmaric-cli prints it.
enum MsgBoxStyle {
    vbOKOnly = 0,
    vbYesNoCancel = 3,
    vbYesNo = 4,
    vbExclamation = 48,
    vbInformation = 64
};
enum MsgBoxResult { vbOK = 1, vbCancel = 2, vbYes = 6, vbNo = 7 };

using MessageSink = std::function<void(const std::string &text, int style)>;

// Shown when the socket layer fails to clean up (the trace-route module words it its own way).
inline constexpr const char *CleanupFailedText = "Windows Sockets error occurred in Cleanup.";
