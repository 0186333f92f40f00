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
// a step failed, the error to report with the caption unchanged.
struct ButtonOutcome {
    std::string Caption;
    std::optional<Error> Failure;
};
// One press of the start/stop button showing `caption`. Starting reads "ServerPort"
// (default 80) as a 32-bit number.
ButtonOutcome PressStartStop(const std::string& caption, const clsSettings& settings,
                             const ServerControls& server);

// The message box text for a failure: "Error " + number + ": " + description.
std::string ErrorMessageText(const Error& failure);

} // namespace quenloft
