#include "ui/ServerDisplay.h"

#include "ui/clsIcon.h"

namespace quenloft {

std::optional<StatusDisplay> DisplayFor(int32_t lngStatus) {
    switch (lngStatus) {
    case StatusStopped:
        return StatusDisplay{"The server is not started!", 255, 0, 0, IDI_EXCLAMATION};
    case StatusRunning:
        return StatusDisplay{"The server is running!", 0, 192, 0, IDI_ASTERISK};
    default:
        return std::nullopt;
    }
}

int32_t StatusOf(const std::string& caption) {
    return caption == StartCaption ? StatusStopped : StatusRunning;
}

namespace {

ButtonOutcome Start(const clsSettings& settings, const ServerControls& server) {
    int32_t port = settings.VariableValue("ServerPort", Variant(int16_t(80))).ToLong();
    server.StartServer(port);
    return {StopCaption, std::nullopt};
}

ButtonOutcome Stop(const ServerControls& server) {
    server.StopServer();
    return {StartCaption, std::nullopt};
}

} // namespace

// A failing step skips the rest, so a failed start stays stopped and a failed stop
// stays running.
ButtonOutcome PressStartStop(const std::string& caption, const clsSettings& settings,
                             const ServerControls& server) {
    try {
        return StatusOf(caption) == StatusStopped ? Start(settings, server) : Stop(server);
    } catch (const Error& failure) {
        return {caption, failure};
    } catch (const std::exception&) {
        // Anything else that fails is reported the same way, never let through.
        return {caption, Error(51, "Internal error")};
    }
}

std::string ErrorMessageText(const Error& failure) {
    return "Error " + std::to_string(failure.Number()) + ": " + failure.Description();
}

} // namespace quenloft
