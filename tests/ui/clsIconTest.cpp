// The held icon: its own copy of a stock icon, replaced and released in order.
#include "ui/clsIcon.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quenloft {
namespace {

// Icon services that write down what they are asked to do.
struct RecordedServices : IconServices {
    std::vector<std::string> Calls;
    uintptr_t next = 100;
    bool stockExists = true;
    uintptr_t LoadIcon(int32_t id) override {
        Calls.push_back("load " + std::to_string(id));
        return stockExists ? uintptr_t(id) : 0;
    }
    uintptr_t DuplicateIcon(uintptr_t icon) override {
        Calls.push_back("copy " + std::to_string(icon) + " as " + std::to_string(next));
        return next++;
    }
    void DestroyIcon(uintptr_t icon) override {
        Calls.push_back("destroy " + std::to_string(icon));
    }
    void DrawIcon(uintptr_t hdc, int32_t x, int32_t y, uintptr_t icon) override {
        Calls.push_back("draw " + std::to_string(icon) + " on " + std::to_string(hdc) + " at " +
                        std::to_string(x) + "," + std::to_string(y));
    }
};

TEST(clsIcon, OpeningAgainDestroysTheFirstCopyFirst) {
    RecordedServices services;
    {
        clsIcon icon(services);
        icon.CleanUp(); // nothing held: nothing to do
        icon.OpenIcon(IDI_EXCLAMATION);
        icon.PaintIcon(7, 10, 5);
        icon.OpenIcon(IDI_ASTERISK);
        EXPECT_EQ(icon.Handle(), 101u);
    }
    EXPECT_EQ(services.Calls,
              (std::vector<std::string>{"load 32515", "copy 32515 as 100", "draw 100 on 7 at 10,5",
                                        "destroy 100", "load 32516", "copy 32516 as 101",
                                        "destroy 101"}));
}

TEST(clsIcon, MissingStockIconLeavesNothingToPaint) {
    RecordedServices services;
    services.stockExists = false;
    clsIcon icon(services);
    icon.OpenIcon(1);
    icon.PaintIcon(7, 10, 5);
    EXPECT_EQ(icon.Handle(), 0u);
    EXPECT_EQ(services.Calls, std::vector<std::string>{"load 1"});
}

} // namespace
} // namespace quenloft
