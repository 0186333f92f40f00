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

TEST(ServerDisplay, StatusTable) {
    auto stopped = DisplayFor(StatusStopped);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->Text, "The server is not started!");
    EXPECT_EQ(std::tie(stopped->Red, stopped->Green, stopped->Blue), std::tuple(255, 0, 0));
    EXPECT_EQ(stopped->IconId, IDI_EXCLAMATION);
    auto running = DisplayFor(StatusRunning);
    ASSERT_TRUE(running);
    EXPECT_EQ(running->Text, "The server is running!");
    EXPECT_EQ(std::tie(running->Red, running->Green, running->Blue), std::tuple(0, 192, 0));
    EXPECT_EQ(running->IconId, IDI_ASTERISK);
    EXPECT_FALSE(DisplayFor(2));
    EXPECT_FALSE(DisplayFor(-1));
}

TEST(ServerDisplay, StartThenStop) {
    clsSettings settings;
    Server server;
    ButtonOutcome started = PressStartStop(StartCaption, settings, server.Controls());
    EXPECT_EQ(server.Starts, std::vector<int32_t>{80}); // the default port
    EXPECT_EQ(started.Caption, "&Stop");
    EXPECT_EQ(started.Status, StatusRunning);
    EXPECT_FALSE(started.Failure);

    ButtonOutcome stopped = PressStartStop(started.Caption, settings, server.Controls());
    EXPECT_EQ(server.Stops, 1);
    EXPECT_EQ(stopped.Caption, "&Start");
    EXPECT_EQ(stopped.Status, StatusStopped);
}

TEST(ServerDisplay, PortIsReadAsANumberAtEachStart) {
    struct Case {
        Variant Stored;
        int32_t Port;
    };
    for (const Case& c : {Case{Variant("8080"), 8080}, Case{Variant(" 8081 "), 8081},
                          Case{Variant(int16_t(81)), 81}, Case{Variant("70000"), 70000}}) {
        clsSettings settings;
        settings.SetVariableValue("ServerPort", c.Stored);
        Server server;
        EXPECT_EQ(PressStartStop(StartCaption, settings, server.Controls()).Caption, "&Stop");
        EXPECT_EQ(server.Starts, std::vector<int32_t>{c.Port});
    }
}

TEST(ServerDisplay, FailureKeepsTheStateItStartedFrom) {
    clsSettings settings;
    settings.SetVariableValue("ServerPort", Variant("abc"));
    Server server;
    ButtonOutcome typo = PressStartStop(StartCaption, settings, server.Controls());
    EXPECT_TRUE(server.Starts.empty());
    EXPECT_EQ(typo.Caption, "&Start");
    EXPECT_EQ(typo.Status, StatusStopped);
    ASSERT_TRUE(typo.Failure);
    EXPECT_EQ(ErrorMessageText(*typo.Failure), "Error 13: Type mismatch");

    settings.SetVariableValue("ServerPort", Variant("8080"));
    server.StartFailure = Error(10048, "Address already in use.", "clsSocket.Listen");
    ButtonOutcome taken = PressStartStop(StartCaption, settings, server.Controls());
    EXPECT_EQ(taken.Caption, "&Start");
    ASSERT_TRUE(taken.Failure);
    EXPECT_EQ(ErrorMessageText(*taken.Failure), "Error 10048: Address already in use.");
}

TEST(ServerDisplay, OnlyTheExactStartCaptionMeansStopped) {
    clsSettings settings;
    Server server;
    ButtonOutcome outcome = PressStartStop("&start", settings, server.Controls());
    EXPECT_EQ(server.Stops, 1);
    EXPECT_TRUE(server.Starts.empty());
    EXPECT_EQ(outcome.Caption, "&Start");
}

} // namespace
} // namespace quenloft
