// What the main window shows of the server, and the start/stop button's steps. The
// caption of the button is the state: "&Start" means stopped, anything else running.
#pragma once

#include "base/Error.h"
#include "store/clsSettings.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace quenloft {

inline constexpr const char* StartCaption = "&Start";
inline constexpr const char* StopCaption = "&Stop";

inline constexpr int32_t StatusStopped = 0;
inline constexpr int32_t StatusRunning = 1;

// The status panel for a state: sentence, its colour and the stock icon beside it.
struct StatusDisplay {
    std::string Text;
    uint8_t Red, Green, Blue;
    int32_t IconId;
};
// The display of status 0 or 1; none for any other value (the panel is only repainted).
std::optional<StatusDisplay> DisplayFor(int32_t lngStatus);

// The server as the button drives it.
struct ServerControls {
    std::function<void(int32_t port)> StartServer;
    std::function<void()> StopServer;
};

// The status a caption of the button stands for.
int32_t StatusOf(const std::string& caption);

// What the button leaves behind: the caption to show (and with it the status), or, when
// a step failed, the error to report with the caption unchanged, and a sentence of
// advice when the failure has a usual remedy.
struct ButtonOutcome {
    std::string Caption;
    std::optional<Error> Failure;
    std::string Advice;
};
// One press of the start/stop button showing `caption`. Starting reads "ServerPort"
// (default 80) as a 32-bit number; a number outside 1-65535 is refused before the
// server is asked.
ButtonOutcome PressStartStop(const std::string& caption, const clsSettings& settings,
                             const ServerControls& server);

// The message box text for a failure: "Error " + number + ": " + description.
std::string ErrorMessageText(const Error& failure);

// The statistics as the status panel's tip shows them: one counter a line, the bytes
// sent in human units.
std::string StatisticsText(const clsSettings& statistics);
// A byte count in human units: "512 bytes", "1.5 KiB", "3.0 MiB".
std::string HumanBytes(double bytes);

} // namespace quenloft
