// The settings dialog's fields and the settings store: defaults, the keys written and
// their order and types, and stored values the fields cannot take.
#include "ui/SettingsFields.h"

#include <gtest/gtest.h>

namespace quenloft {
namespace {

TEST(SettingsFields, EmptyStoreGivesTheDefaultDisplay) {
    clsSettings store;
    SettingsFields fields;
    fields.IndexFiles = {"left over"};
    LoadFields(store, fields);
    EXPECT_EQ(fields.IndexPath, "");
    EXPECT_EQ(fields.Port, "80");
    EXPECT_EQ(fields.DLEnable, Checked);
    EXPECT_EQ(fields.DLShow, Unchecked);
    EXPECT_EQ(fields.SizeColumn, Checked);
    EXPECT_EQ(fields.DateColumn, Checked);
    EXPECT_TRUE(fields.IndexFiles.empty());
    EXPECT_EQ(store.VariableCount(), 0); // reading never creates a key
}

TEST(SettingsFields, SavingTheDefaultsCreatesSevenKeysInOrder) {
    clsSettings store;
    SettingsFields fields;
    LoadFields(store, fields);
    SaveFields(fields, store);

    struct Expected {
        const char* Name;
        Variant Value;
    };
    const Expected expected[] = {
        {"IndexPath", Variant("")},          {"IndexNames", Variant()},
        {"DLEnabled", Variant(int16_t(1))},  {"DLShowHiddenFiles", Variant(int16_t(0))},
        {"DLShowSize", Variant(int16_t(1))}, {"DLShowDate", Variant(int16_t(1))},
        {"ServerPort", Variant("80")},
    };
    ASSERT_EQ(store.VariableCount(), 7);
    for (int32_t i = 0; i < 7; ++i) {
        SCOPED_TRACE(expected[i].Name);
        EXPECT_EQ(store.VariableName(Variant(i)).ToText(), expected[i].Name);
        Variant value = store.VariableValue(Variant(i));
        EXPECT_EQ(value.Type(), expected[i].Value.Type());
        EXPECT_EQ(value, expected[i].Value);
    }
}

TEST(SettingsFields, EditedFieldsRoundTripThroughTheStore) {
    clsSettings store;
    SettingsFields typed;
    typed.IndexPath = "/srv/www";
    typed.Port = "abc"; // stored as typed; the next start reports it
    typed.IndexFiles = {"index.html", "", "index.html"};
    typed.DLEnable = Unchecked;
    typed.DLShow = Checked;
    typed.SizeColumn = Grayed;
    typed.DateColumn = Unchecked;
    SaveFields(typed, store);
    SaveFields(typed, store); // a second save replaces, never appends
    EXPECT_EQ(store.VariableCount(), 7);

    Variant names = store.VariableValue("IndexNames");
    ASSERT_TRUE(names.IsArray());
    EXPECT_EQ(names.LowerBound(), 0);
    EXPECT_EQ(names.Items().size(), 3u);

    SettingsFields shown;
    LoadFields(store, shown);
    EXPECT_EQ(shown, typed);
}

TEST(SettingsFields, ValuesAFieldCannotTakeLeaveItAsItWas) {
    clsSettings store;
    store.SetVariableValue("DLEnabled", Variant(int16_t(7)));
    store.SetVariableValue("DLShowHiddenFiles", Variant("abc"));
    store.SetVariableValue("DLShowSize", Variant(int32_t(100000)));
    store.SetVariableValue("DLShowDate", Variant("1")); // a numeric text is taken
    store.SetVariableValue("ServerPort", Variant(int32_t(8080)));
    store.SetVariableValue("IndexPath", Variant::Array({Variant("x")}));
    store.SetVariableValue("IndexNames", Variant("index.html")); // not an array

    SettingsFields fields;
    fields.IndexPath = "kept";
    fields.IndexFiles = {"old"};
    fields.DLEnable = Grayed;
    fields.DLShow = Checked;
    fields.SizeColumn = Grayed;
    fields.DateColumn = Unchecked;
    LoadFields(store, fields);

    EXPECT_EQ(fields.IndexPath, "kept");
    EXPECT_EQ(fields.DLEnable, Grayed);
    EXPECT_EQ(fields.DLShow, Checked);
    EXPECT_EQ(fields.SizeColumn, Grayed);
    EXPECT_EQ(fields.DateColumn, Checked);
    EXPECT_EQ(fields.Port, "8080");
    EXPECT_TRUE(fields.IndexFiles.empty());
}

TEST(SettingsFields, ListSkipsElementsWithoutText) {
    clsSettings store;
    store.SetVariableValue(
        "IndexNames",
        Variant::Array({Variant("a.html"), Variant::Array({}), Variant(int16_t(5))}, 1));
    SettingsFields fields;
    LoadFields(store, fields);
    EXPECT_EQ(fields.IndexFiles, (std::vector<std::string>{"a.html", "5"}));
}

} // namespace
} // namespace quenloft
