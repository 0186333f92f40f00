// The settings dialog's fields and the settings store: defaults, the keys written with
// their order and types, and stored values a field cannot take.
#include "ui/SettingsFields.h"

#include <gtest/gtest.h>

namespace quenloft {
namespace {

TEST(SettingsFields, EmptyStoreGivesTheDefaultsAndSavingWritesSevenKeysInOrder) {
    clsSettings store;
    SettingsFields fields;
    fields.IndexFiles = {"left over"};
    LoadFields(store, fields);
    SettingsFields expected;
    expected.DLEnable = expected.SizeColumn = expected.DateColumn = Checked;
    EXPECT_EQ(fields, expected); // "" and "80", no entries, hidden files off
    EXPECT_EQ(store.VariableCount(), 0);

    SaveFields(fields, store);
    SaveFields(fields, store); // a second save replaces, never appends
    const std::pair<const char*, Variant> keys[] = {
        {"IndexPath", Variant("")},          {"IndexNames", Variant()},
        {"DLEnabled", Variant(int16_t(1))},  {"DLShowHiddenFiles", Variant(int16_t(0))},
        {"DLShowSize", Variant(int16_t(1))}, {"DLShowDate", Variant(int16_t(1))},
        {"ServerPort", Variant("80")}};
    ASSERT_EQ(store.VariableCount(), 7);
    for (int32_t i = 0; i < 7; ++i) {
        EXPECT_EQ(store.VariableName(Variant(i)).ToText(), keys[i].first);
        EXPECT_EQ(store.VariableValue(Variant(i)), keys[i].second) << keys[i].first;
    }
}

TEST(SettingsFields, EditedFieldsComeBackAsTyped) {
    clsSettings store;
    SettingsFields typed{"/srv/www", "abc", {"index.html", "", "index.html"}, 0, 1, 2, 0};
    SaveFields(typed, store);
    Variant names = store.VariableValue("IndexNames");
    ASSERT_TRUE(names.IsArray());
    EXPECT_EQ(names.LowerBound(), 0);
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
    store.SetVariableValue("IndexNames", Variant("index.html")); // not an array: no entries
    SettingsFields fields{"kept", "80", {"old"}, 2, 1, 2, 0};
    LoadFields(store, fields);
    EXPECT_EQ(fields, (SettingsFields{"kept", "8080", {}, 2, 1, 2, 1}));

    store.SetVariableValue("IndexNames", Variant::Array({Variant("a"), Variant::Array({})}, 1));
    LoadFields(store, fields);
    EXPECT_EQ(fields.IndexFiles, std::vector<std::string>{"a"}); // no text: left out
}

} // namespace
} // namespace quenloft
