// The notification-area icon table: slots, identifiers, tips and what reaches the area.
#include "ui/clsTray.h"

#include <gtest/gtest.h>
#include <optional>
#include <vector>

namespace quenloft {
namespace {

// The area as the table sees it: every message it receives, in order.
struct RecordedArea : NotifyArea {
    std::vector<std::pair<uint32_t, NotifyIconData>> Calls;
    void ShellNotifyIcon(uint32_t message, const NotifyIconData& data) override {
        Calls.emplace_back(message, data);
    }
};

constexpr uintptr_t Hook = 0x1234;

TEST(clsTray, FirstIconTakesSlotZeroWithIdentifierOne) {
    RecordedArea area;
    clsTray tray(area);
    EXPECT_EQ(tray.IconCount(), 0);
    EXPECT_EQ(tray.AddTrayIcon(Hook, "Quenloft", 77), 0);
    EXPECT_EQ(tray.IconCount(), 1);
    ASSERT_EQ(area.Calls.size(), 1u);
    const auto& [message, data] = area.Calls[0];
    EXPECT_EQ(message, NIM_ADD);
    EXPECT_EQ(data.cbSize, 88u);
    EXPECT_EQ(data.hWnd, Hook);
    EXPECT_EQ(data.uID, 1u);
    EXPECT_EQ(data.uFlags, 7u);
    EXPECT_EQ(data.uCallbackMessage, 513u);
    EXPECT_EQ(data.hIcon, 77u);
    EXPECT_EQ(data.Tip(), "Quenloft");
    EXPECT_EQ(data.szTip[63], ' '); // blanks after the NUL
}

TEST(clsTray, FreedSlotIsReusedAndDestructionRemovesEverySlot) {
    RecordedArea area;
    std::optional<clsTray> tray(std::in_place, area);
    EXPECT_EQ(tray->AddTrayIcon(Hook, "a", 1), 0);
    EXPECT_EQ(tray->AddTrayIcon(Hook, "b", 2), 1);
    EXPECT_EQ(area.Calls[1].second.uID, 2u);
    EXPECT_EQ(tray->DeleteIcon(0), 0);
    EXPECT_EQ(area.Calls[2].first, NIM_DELETE);
    EXPECT_EQ(tray->IconCount(), 1);
    EXPECT_EQ(tray->AddTrayIcon(Hook, "c", 3), 0);
    EXPECT_EQ(tray->IconCount(), 2);

    area.Calls.clear();
    tray.reset();
    ASSERT_EQ(area.Calls.size(), 2u); // slot 1 kept its icon throughout
    EXPECT_EQ(area.Calls[1].first, NIM_DELETE);
    EXPECT_EQ(area.Calls[1].second.uID, 2u);
    EXPECT_EQ(area.Calls[1].second.hIcon, 2u);
}

TEST(clsTray, IndexOutsideTheTableChangesNothing) {
    RecordedArea area;
    clsTray tray(area);
    for (int16_t index : {5, 1, -1}) {
        EXPECT_EQ(tray.DeleteIcon(index), 1);
        EXPECT_EQ(tray.ChangeIcon(index, 9), 1);
        EXPECT_EQ(tray.ChangeDescription(index, "x"), 1);
    }
    EXPECT_TRUE(area.Calls.empty());
}

TEST(clsTray, ChangesResendTheWholeRecordAndTipsStopAtSixtyThree) {
    RecordedArea area;
    clsTray tray(area);
    std::string exact(63, 'x');
    tray.AddTrayIcon(Hook, exact, 1);
    EXPECT_EQ(area.Calls.back().second.Tip(), exact);
    EXPECT_EQ(tray.ChangeIcon(0, 2), 0);
    EXPECT_EQ(area.Calls.back().first, NIM_MODIFY);
    EXPECT_EQ(area.Calls.back().second.hIcon, 2u);
    EXPECT_EQ(area.Calls.back().second.Tip(), exact);
    EXPECT_EQ(tray.ChangeDescription(0, exact + "yz"), 0);
    EXPECT_EQ(area.Calls.back().second.Tip(), exact);
    EXPECT_EQ(area.Calls.back().second.uCallbackMessage, 513u);
}

} // namespace
} // namespace quenloft
