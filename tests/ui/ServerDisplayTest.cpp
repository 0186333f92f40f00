// The start/stop button's state machine and the status it shows.
#include "ui/ServerDisplay.h"

#include "ui/clsIcon.h"

#include <gtest/gtest.h>
#include <vector>

namespace quenloft {
namespace {

// The server's two calls, written down; a start can be made to fail.
struct Server {
    std::vector<int32_t> Starts;
    int Stops = 0;
    std::optional<Error> StartFailure;
    ServerControls Controls() {
        return {[this](int32_t port) {
                    if (StartFailure) {
                        throw *StartFailure;
                    }
                    Starts.push_back(port);
                },
                [this] { ++Stops; }};
    }
};

TEST(ServerDisplay, StartThenStop) {
    clsSettings settings;
    Server server;
    ButtonOutcome started = PressStartStop(StartCaption, settings, server.Controls());
    EXPECT_EQ(server.Starts, std::vector<int32_t>{80}); // the default port
    EXPECT_EQ(started.Caption, "&Stop");
    EXPECT_EQ(StatusOf(started.Caption), StatusRunning);
    EXPECT_EQ(DisplayFor(StatusOf(started.Caption))->IconId, IDI_ASTERISK);

    ButtonOutcome stopped = PressStartStop(started.Caption, settings, server.Controls());
    EXPECT_EQ(server.Stops, 1);
    EXPECT_EQ(stopped.Caption, "&Start");
    EXPECT_EQ(StatusOf(stopped.Caption), StatusStopped);
    EXPECT_EQ(DisplayFor(StatusOf(stopped.Caption))->Text, "The server is not started!");
    EXPECT_FALSE(DisplayFor(2)); // any other status only repaints

    PressStartStop("&start", settings, server.Controls()); // not exactly "&Start": running
    EXPECT_EQ(server.Stops, 2);
}

TEST(ServerDisplay, PortIsReadAsANumberAtEachStart) {
    for (auto [stored, port] : {std::pair(Variant("8080"), 8080), std::pair(Variant(" 81 "), 81),
                                std::pair(Variant(int16_t(82)), 82)}) {
        clsSettings settings;
        settings.SetVariableValue("ServerPort", stored);
        Server server;
        EXPECT_EQ(PressStartStop(StartCaption, settings, server.Controls()).Caption, "&Stop");
        EXPECT_EQ(server.Starts, std::vector<int32_t>{port});
    }
}

TEST(ServerDisplay, FailureKeepsTheStateItStartedFrom) {
    clsSettings settings;
    settings.SetVariableValue("ServerPort", Variant("abc"));
    Server server;
    ButtonOutcome typo = PressStartStop(StartCaption, settings, server.Controls());
    EXPECT_TRUE(server.Starts.empty());
    EXPECT_EQ(typo.Caption, "&Start");
    EXPECT_EQ(StatusOf(typo.Caption), StatusStopped);
    ASSERT_TRUE(typo.Failure);
    EXPECT_EQ(ErrorMessageText(*typo.Failure), "Error 13: Type mismatch");

    settings.SetVariableValue("ServerPort", Variant("8080"));
    server.StartFailure = Error(10048, "Address already in use.", "clsSocket.Listen");
    ButtonOutcome taken = PressStartStop(StartCaption, settings, server.Controls());
    EXPECT_EQ(taken.Caption, "&Start");
    ASSERT_TRUE(taken.Failure);
    EXPECT_EQ(ErrorMessageText(*taken.Failure), "Error 10048: Address already in use.");
}

TEST(ServerDisplay, PortOutsideTheRangeIsRefusedBeforeTheServerIsAsked) {
    for (const char* port : {"0", "-1", "65536", "70000"}) {
        clsSettings settings;
        settings.SetVariableValue("ServerPort", Variant(port));
        Server server;
        ButtonOutcome refused = PressStartStop(StartCaption, settings, server.Controls());
        EXPECT_TRUE(server.Starts.empty()) << port;
        EXPECT_EQ(refused.Caption, "&Start");
        ASSERT_TRUE(refused.Failure);
        EXPECT_EQ(ErrorMessageText(*refused.Failure),
                  "Error 5: Port " + std::string(port) +
                      " cannot be used: a port is a number from 1 to 65535.");
        EXPECT_EQ(refused.Advice, "Please choose a port such as 8080 under Configure.");
    }
    for (auto [stored, port] : {std::pair("1", 1), std::pair("65535", 65535)}) {
        clsSettings settings;
        settings.SetVariableValue("ServerPort", Variant(stored));
        Server server;
        EXPECT_EQ(PressStartStop(StartCaption, settings, server.Controls()).Caption, "&Stop");
        EXPECT_EQ(server.Starts, std::vector<int32_t>{port});
    }
}

// Only a refused port below 1024 gets the sentence; the error's own text stays.
TEST(ServerDisplay, PermissionDeniedBelow1024AddsAdvice) {
    const Error denied(10013, "Permission denied.", "clsSocket.Listen");
    for (auto [stored, advised] :
         {std::pair(Variant(int16_t(80)), true), std::pair(Variant("1023"), true),
          std::pair(Variant("1024"), false), std::pair(Variant("8080"), false)}) {
        clsSettings settings;
        settings.SetVariableValue("ServerPort", stored);
        Server server;
        server.StartFailure = denied;
        ButtonOutcome outcome = PressStartStop(StartCaption, settings, server.Controls());
        ASSERT_TRUE(outcome.Failure);
        EXPECT_EQ(ErrorMessageText(*outcome.Failure), "Error 10013: Permission denied.");
        EXPECT_EQ(outcome.Advice, advised ? "Ports below 1024 need administrator rights; choose "
                                            "a port such as 8080 under Configure."
                                          : "")
            << stored.ToText();
    }
}

// Each failed start keeps the error's own text and gets one sentence naming the port and
// what to do.
TEST(ServerDisplay, FailedStartsSayWhatToDoWithThePort) {
    const struct {
        Variant Stored;
        std::optional<Error> ServerFailure;
        const char *Message, *Advice;
    } cases[] = {
        {Variant("abc"), std::nullopt, "Error 13: Type mismatch",
         "The port \"abc\" is not a number; enter a port from 1 to 65535 under Configure."},
        {Variant("8080x"), std::nullopt, "Error 13: Type mismatch",
         "The port \"8080x\" is not a number; enter a port from 1 to 65535 under Configure."},
        {Variant("99999999999"), std::nullopt, "Error 6: Overflow",
         "Port 99999999999 is far beyond 65535, the highest port; choose a port such as 8080 "
         "under Configure."},
        {Variant("8080"), Error(10048, "Address already in use.", "clsSocket.Listen"),
         "Error 10048: Address already in use.",
         "Port 8080 is already used by another program; choose another port under Configure."},
        {Variant(), Error(10048, "Address already in use.", "clsSocket.Listen"),
         "Error 10048: Address already in use.",
         "Port 80 is already used by another program; choose another port under Configure."},
        {Variant("8080"), Error(10055, "No buffer space is available.", "clsSocket.Listen"),
         "Error 10055: No buffer space is available.", ""},
    };
    for (const auto& c : cases) {
        clsSettings settings;
        if (!c.Stored.IsEmpty()) {
            settings.SetVariableValue("ServerPort", c.Stored);
        }
        Server server;
        server.StartFailure = c.ServerFailure;
        ButtonOutcome outcome = PressStartStop(StartCaption, settings, server.Controls());
        ASSERT_TRUE(outcome.Failure) << c.Message;
        EXPECT_EQ(outcome.Caption, "&Start");
        EXPECT_EQ(ErrorMessageText(*outcome.Failure), c.Message);
        EXPECT_EQ(outcome.Advice, c.Advice) << c.Message;
    }
}

TEST(ServerDisplay, StatisticsTextCountsEveryOutcomeAndBytesInHumanUnits) {
    clsSettings statistics;
    EXPECT_EQ(StatisticsText(statistics), "Files: 0\nListings: 0\nNot found: 0\n"
                                          "Refused methods: 0\nBytes sent: 0 bytes");
    statistics.IncreseVariable("RequestsOK", Variant(int16_t(7)));
    statistics.IncreseVariable("RequestsDirectoryListing", Variant(int16_t(2)));
    statistics.IncreseVariable("RequestsFileNotFound", Variant(int16_t(3)));
    statistics.IncreseVariable("RequestsMethodNotAllowed", Variant(int16_t(1)));
    statistics.SetVariableValue("BytesSend", Variant(3.5 * 1024 * 1024 * 1024)); // widened
    EXPECT_EQ(StatisticsText(statistics), "Files: 7\nListings: 2\nNot found: 3\n"
                                          "Refused methods: 1\nBytes sent: 3.5 GiB");
}

TEST(ServerDisplay, HumanBytes) {
    const std::pair<double, const char*> cases[] = {
        {0, "0 bytes"},
        {1, "1 byte"},
        {1023, "1023 bytes"},
        {1024, "1.0 KiB"},
        {1536, "1.5 KiB"},
        {1024 * 1023.99, "1.0 MiB"}, // never "1024.0 KiB"
        {5.25 * 1048576, "5.2 MiB"},
        {1099511627776.0 * 2, "2.0 TiB"},
    };
    for (auto [bytes, text] : cases) {
        EXPECT_EQ(HumanBytes(bytes), text) << bytes;
    }
}

} // namespace
} // namespace quenloft
