#include "ui/ServerDisplay.h"

#include "ui/clsIcon.h"

#include <array>
#include <charconv>

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

constexpr int32_t HighestPort = 65535;
constexpr int32_t FirstFreePort = 1024; // ports below need administrator rights
constexpr int32_t ErrPermissionDenied = 10013;

const std::string ChoosePortAdvice = "choose a port such as 8080 under Configure.";
const std::string PortCheck = "frmMain.cmdStart";

int32_t StoredPort(const clsSettings& settings) {
    return settings.VariableValue("ServerPort", Variant(int16_t(80))).ToLong();
}

// Port 0 would listen on a port of the system's choice that nobody is told.
void CheckPortRange(int32_t port) {
    if (port < 1 || port > HighestPort) {
        throw Error(ErrInvalidArgument,
                    "Port " + std::to_string(port) +
                        " cannot be used: a port is a number from 1 to 65535.",
                    PortCheck);
    }
}

ButtonOutcome Start(const clsSettings& settings, const ServerControls& server) {
    int32_t port = StoredPort(settings);
    CheckPortRange(port);
    server.StartServer(port);
    return {StopCaption, std::nullopt, {}};
}

ButtonOutcome Stop(const ServerControls& server) {
    server.StopServer();
    return {StartCaption, std::nullopt, {}};
}

constexpr int32_t ErrAddressInUse = 10048;

// The port as the settings hold it, as text.
std::string StoredPortText(const clsSettings& settings) {
    std::string text = "80";
    ResumeNext([&] { text = settings.VariableValue("ServerPort", Variant(int16_t(80))).ToText(); });
    return text;
}

// The usual remedy for a failed start, when there is one: one sentence naming the port
// and what to do about it.
std::string StartAdvice(const Error& failure, const clsSettings& settings) {
    if (failure.Source() == PortCheck) {
        return "Please " + ChoosePortAdvice;
    }
    std::string port = StoredPortText(settings);
    switch (failure.Number()) {
    case ErrTypeMismatch:
        return "The port \"" + port +
               "\" is not a number; enter a port from 1 to 65535 under Configure.";
    case ErrOverflow:
        return "Port " + port + " is far beyond 65535, the highest port; " + ChoosePortAdvice;
    case ErrAddressInUse:
        return "Port " + port +
               " is already used by another program; choose another port under Configure.";
    case ErrPermissionDenied: {
        int32_t number = 0;
        ResumeNext([&] { number = StoredPort(settings); });
        if (number > 0 && number < FirstFreePort) {
            return "Ports below 1024 need administrator rights; " + ChoosePortAdvice;
        }
        return {};
    }
    default:
        return {};
    }
}

int64_t Counter(const clsSettings& statistics, const char* key) {
    int64_t count = 0;
    ResumeNext([&] { count = int64_t(statistics.VariableValue(key, Variant(0)).ToDouble()); });
    return count;
}

} // namespace

// A failing step skips the rest, so a failed start stays stopped and a failed stop
// stays running.
ButtonOutcome PressStartStop(const std::string& caption, const clsSettings& settings,
                             const ServerControls& server) {
    bool starting = StatusOf(caption) == StatusStopped;
    try {
        return starting ? Start(settings, server) : Stop(server);
    } catch (const Error& failure) {
        return {caption, failure, starting ? StartAdvice(failure, settings) : std::string()};
    } catch (const std::exception&) {
        // Anything else that fails is reported the same way, never let through.
        return {caption, Error::Runtime(ErrInternal), {}};
    }
}

std::string ErrorMessageText(const Error& failure) {
    return "Error " + std::to_string(failure.Number()) + ": " + failure.Description();
}

std::string StatisticsText(const clsSettings& statistics) {
    return "Files: " + std::to_string(Counter(statistics, "RequestsOK")) +
           "\nListings: " + std::to_string(Counter(statistics, "RequestsDirectoryListing")) +
           "\nNot found: " + std::to_string(Counter(statistics, "RequestsFileNotFound")) +
           "\nRefused methods: " + std::to_string(Counter(statistics, "RequestsMethodNotAllowed")) +
           "\nBytes sent: " + HumanBytes(double(Counter(statistics, "BytesSend")));
}

std::string HumanBytes(double bytes) {
    static constexpr std::array<const char*, 5> Units = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    if (bytes < 1024) {
        return std::to_string(int64_t(bytes)) + (bytes == 1 ? " byte" : " bytes");
    }
    // A unit is left as soon as its number would show as 1024.0.
    size_t unit = 0;
    bytes /= 1024;
    while (bytes >= 1023.95 && unit + 1 < Units.size()) {
        bytes /= 1024;
        ++unit;
    }
    char text[32];
    auto written = std::to_chars(text, text + sizeof text, bytes, std::chars_format::fixed, 1);
    return std::string(text, written.ptr) + " " + Units[unit];
}

} // namespace quenloft
