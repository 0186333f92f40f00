// The notification-area icon table: slots, identifiers, tips and what reaches the area.
#include "ui/clsTray.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace quenloft {
namespace {

// The area as the table sees it: every message it receives, in order.
struct RecordedArea : NotifyArea {
    struct Call {
        uint32_t Message;
        NotifyIconData Data;
    };
    std::vector<Call> Calls;
    void ShellNotifyIcon(uint32_t message, const NotifyIconData& data) override {
        Calls.push_back({message, data});
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
    // The NUL ends the tip; blanks fill the rest of the field.
    EXPECT_EQ(data.szTip[8], '\0');
    EXPECT_EQ(data.szTip[63], ' ');
}

TEST(clsTray, FreedSlotIsReusedBeforeTheTableGrows) {
    RecordedArea area;
    std::optional<clsTray> tray(std::in_place, area);
    EXPECT_EQ(tray->AddTrayIcon(Hook, "a", 1), 0);
    EXPECT_EQ(tray->AddTrayIcon(Hook, "b", 2), 1);
    EXPECT_EQ(area.Calls[1].Data.uID, 2u);
    EXPECT_EQ(tray->IconCount(), 2);

    EXPECT_EQ(tray->DeleteIcon(0), 0);
    EXPECT_EQ(area.Calls[2].Message, NIM_DELETE);
    EXPECT_EQ(area.Calls[2].Data.uID, 1u);
    EXPECT_EQ(tray->IconCount(), 1);

    EXPECT_EQ(tray->AddTrayIcon(Hook, "c", 3), 0);
    EXPECT_EQ(tray->IconCount(), 2);

    // Destruction removes every slot, so slot 1 shows that it kept its icon.
    area.Calls.clear();
    tray.reset();
    ASSERT_EQ(area.Calls.size(), 2u);
    EXPECT_EQ(area.Calls[0].Message, NIM_DELETE);
    EXPECT_EQ(area.Calls[0].Data.hIcon, 3u);
    EXPECT_EQ(area.Calls[1].Data.uID, 2u);
    EXPECT_EQ(area.Calls[1].Data.hIcon, 2u);
    EXPECT_EQ(area.Calls[1].Data.Tip(), "b");
}

TEST(clsTray, IndexOutsideTheTableChangesNothing) {
    RecordedArea area;
    clsTray tray(area);
    for (int16_t index : {int16_t(5), int16_t(1), int16_t(-1)}) {
        EXPECT_EQ(tray.DeleteIcon(index), 1);
        EXPECT_EQ(tray.ChangeIcon(index, 9), 1);
        EXPECT_EQ(tray.ChangeDescription(index, "x"), 1);
    }
    EXPECT_TRUE(area.Calls.empty());
    EXPECT_EQ(tray.IconCount(), 0);
}

TEST(clsTray, ChangesResendTheWholeRecord) {
    RecordedArea area;
    clsTray tray(area);
    tray.AddTrayIcon(Hook, "Quenloft", 1);
    EXPECT_EQ(tray.ChangeIcon(0, 2), 0);
    EXPECT_EQ(tray.ChangeDescription(0, "Other"), 0);
    ASSERT_EQ(area.Calls.size(), 3u);
    EXPECT_EQ(area.Calls[1].Message, NIM_MODIFY);
    EXPECT_EQ(area.Calls[1].Data.hIcon, 2u);
    EXPECT_EQ(area.Calls[1].Data.Tip(), "Quenloft");
    EXPECT_EQ(area.Calls[2].Message, NIM_MODIFY);
    EXPECT_EQ(area.Calls[2].Data.Tip(), "Other");
    EXPECT_EQ(area.Calls[2].Data.uCallbackMessage, 513u);
}

TEST(clsTray, TipHoldsAtMostSixtyThreeCharacters) {
    RecordedArea area;
    clsTray tray(area);
    std::string exact(63, 'x');
    tray.AddTrayIcon(Hook, exact, 1);
    EXPECT_EQ(area.Calls.back().Data.Tip(), exact);

    tray.ChangeDescription(0, exact + "yz");
    EXPECT_EQ(area.Calls.back().Data.Tip(), exact);
    EXPECT_EQ(area.Calls.back().Data.szTip[63], '\0');

    tray.ChangeDescription(0, "short");
    EXPECT_EQ(area.Calls.back().Data.Tip(), "short");
}

} // namespace
} // namespace quenloft
