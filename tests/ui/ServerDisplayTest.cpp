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

} // namespace
} // namespace quenloft
