// The variable store: lookups, counters, and its file format on real files.
#include "store/clsSettings.h"

#include "base/Error.h"
#include "support/FileSizeLimit.h"
#include "support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>

using quenloft::clsSettings;
using quenloft::Variant;
using quenloft::VarType;
using quenloft::testing::FileSizeLimit;
using quenloft::testing::TempFolder;

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) {
        out += static_cast<char>(v);
    }
    return out;
}

TEST(StoreLookup, NamesIgnoreCaseAndPositionsWin) {
    clsSettings store;
    store.SetVariableValue("ServerPort", "8080");
    EXPECT_EQ(store.VariableValue("serverport").ToText(), "8080");
    EXPECT_EQ(store.VariableValue(int32_t{0}).ToText(), "8080");
    EXPECT_EQ(store.VariableValue("0").ToText(), "8080");
    EXPECT_EQ(store.FindIndex("1"), -1);
    EXPECT_EQ(store.VariableName(int32_t{0}).ToText(), "ServerPort");
}

TEST(StoreLookup, AbsentKeysReadAsDefaultWithoutCreatingThem) {
    clsSettings store;
    EXPECT_TRUE(store.VariableValue("IndexPath").IsEmpty());
    EXPECT_EQ(store.VariableValue("ServerPort", Variant(int16_t{80})).ToLong(), 80);
    EXPECT_EQ(store.VariableCount(), 0);
}

TEST(StoreLookup, EmptyOrNumericNamesAreRefused) {
    clsSettings store;
    store.SetVariableValue("", "x");
    store.SetVariableValue("42", "x");
    EXPECT_EQ(store.CreateVariable("1.5", Variant()), -1);
    EXPECT_EQ(store.VariableCount(), 0);

    for (int i = 0; i < 43; ++i) {
        store.SetVariableValue("k" + std::to_string(i), Variant(int32_t{i}));
    }
    store.SetVariableValue("42", "overwritten");
    EXPECT_EQ(store.VariableValue("k42").ToText(), "overwritten");
    EXPECT_EQ(store.VariableCount(), 43);
}

TEST(StoreLookup, DestroyKeepsOrder) {
    clsSettings store;
    store.SetVariableValue("a", "1");
    store.SetVariableValue("b", "2");
    store.SetVariableValue("c", "3");
    store.DestroyVariable("a");
    EXPECT_EQ(store.VariableName(int32_t{0}).ToText(), "b");
    EXPECT_EQ(store.VariableName(int32_t{1}).ToText(), "c");
    store.DestroyVariable("missing");
    EXPECT_EQ(store.VariableCount(), 2);
}

// Names are found by an index that must follow every change: where names repeat
// (without regard to case) the first is found, removing one moves the later ones up, a
// renamed variable is found by its new name only, a loaded store by its own names; a text
// that reads as a position in range is that position even when a variable bears it as name.
TEST(StoreLookup, NamesAreFoundAfterEveryChange) {
    clsSettings store;
    store.SetVariableValue("Alpha", "a");
    store.SetVariableValue("beta", "b");
    EXPECT_EQ(store.CreateVariable("ALPHA", "A"), 0); // a second variable of that name
    store.SetVariableValue("Gamma", "g");
    EXPECT_EQ(store.VariableValue("alpha").ToText(), "a");
    EXPECT_EQ(store.FindIndex("GAMMA"), 3);

    store.DestroyVariable("aLPHA");
    EXPECT_EQ(store.VariableValue("alpha").ToText(), "A");
    EXPECT_EQ(store.FindIndex("alpha"), 1);
    EXPECT_EQ(store.FindIndex("gamma"), 2);

    store.SetVariableName("BETA", "Delta");
    EXPECT_EQ(store.FindIndex("beta"), -1);
    EXPECT_EQ(store.VariableValue("delta").ToText(), "b");
    store.SetVariableName("gamma", "Delta"); // now a repeat of a name before it
    EXPECT_EQ(store.FindIndex("DELTA"), 0);
    EXPECT_EQ(store.FindIndex("gamma"), -1);

    store.SetVariableName(int32_t{0}, "0"); // names that read as numbers only come this way
    store.SetVariableName(int32_t{1}, "7");
    EXPECT_EQ(store.VariableValue("0").ToText(), "b"); // position 0 and name "0" agree
    EXPECT_EQ(store.VariableValue("2").ToText(), "g"); // a position
    EXPECT_EQ(store.VariableValue("7").ToText(), "A"); // no position 7: the name
    store.IncreseVariable("Epsilon", Variant(int16_t{5}));
    EXPECT_EQ(store.FindIndex("EPSILON"), 3);

    clsSettings loaded = clsSettings::Decode(store.Encode());
    store.DestroyVariable("0");
    EXPECT_EQ(loaded.VariableCount(), 4);
    EXPECT_EQ(loaded.FindIndex("delta"), 2);
    EXPECT_EQ(loaded.FindIndex("epsilon"), 3);
    EXPECT_EQ(loaded.VariableValue("7").ToText(), "A");
    EXPECT_EQ(store.FindIndex("delta"), 1);
}

TEST(StoreCounters, AbsentCounterStartsFromFirstIncrease) {
    clsSettings store;
    store.IncreseVariable("RequestsOK", Variant(int16_t{1}));
    store.IncreseVariable("RequestsOK", Variant(int16_t{1}));
    EXPECT_EQ(store.VariableValue("RequestsOK").RawInteger(), 2);
    EXPECT_EQ(store.VariableValue("RequestsOK").Type(), VarType::Integer);
}

TEST(StoreCounters, WidenAsTheyGrowAndAreWrittenWithTheWiderTag) {
    clsSettings store;
    store.SetVariableValue("a", Variant(int16_t{32767}));
    store.IncreseVariable("a", Variant(int16_t{1}));
    store.SetVariableValue("b", Variant(int32_t{2147483647}));
    store.IncreseVariable("b", Variant(int16_t{1024}));
    std::string image = store.Encode();
    // count, then "a": name length 1, 'a', tag 3, 32768
    EXPECT_EQ(image.substr(0, 13), Bytes({1 + 1, 0, 0, 0, 1, 0, 'a', 3, 0, 0, 0x80, 0, 0}));
    EXPECT_EQ(image.substr(13, 5), Bytes({1, 0, 'b', 5, 0}));
    EXPECT_EQ(clsSettings::Decode(image).VariableValue("b").RawFloat(), 2147484671.0);
}

TEST(StoreFile, ExactBytesOfAStoreAndOfAnEmptyStore) {
    TempFolder dir;
    clsSettings store;
    store.SetVariableValue("ServerPort", "8080");
    store.SaveData(dir / "s.dat");
    EXPECT_EQ(TempFolder::Read(dir / "s.dat"),
              Bytes({1, 0, 0, 0, 10, 0}) + "ServerPort" + Bytes({8, 0, 4, 0}) + "8080");

    clsSettings().SaveData(dir / "empty.dat");
    EXPECT_EQ(TempFolder::Read(dir / "empty.dat"), Bytes({0, 0, 0, 0}));
    clsSettings loaded;
    loaded.SetVariableValue("old", "x");
    loaded.LoadData(dir / "empty.dat");
    EXPECT_EQ(loaded.VariableCount(), 0);
}

TEST(StoreFile, SaveThenLoadKeepsNamesOrderValuesAndTypes) {
    TempFolder dir;
    clsSettings store;
    store.SetVariableValue("IndexPath", "/srv/www");
    store.SetVariableValue("IndexNames", Variant::Array({"index.html", "index.htm"}, 0));
    store.SetVariableValue("DLEnabled", Variant(int16_t{1}));
    store.SetVariableValue("Nothing", Variant());
    store.SetVariableValue("Big", Variant(int32_t{-70000}));
    store.SetVariableValue("Float", Variant(0.1));
    store.SetVariableValue("Flag", Variant::Boolean(true));
    store.SetVariableValue("When", Variant::Date(45000.5));
    store.SetVariableValue("Money", Variant::Currency(12345));
    store.SetVariableValue("Code", Variant::ErrorCode(quenloft::MissingArgumentCode));
    store.SetVariableValue("Nested", Variant::Array({Variant::Array({"x"}, 3), Variant()}, 1));
    store.SetVariableValue("Long", std::string(65535, 'z')); // the longest a text can be
    store.SaveData(dir / "sub/folder/s.dat");                // missing folders are created

    clsSettings loaded;
    loaded.LoadData(dir / "sub/folder/s.dat");
    ASSERT_EQ(loaded.VariableCount(), store.VariableCount());
    for (int32_t i = 0; i < store.VariableCount(); ++i) {
        EXPECT_EQ(loaded.VariableName(i).ToText(), store.VariableName(i).ToText());
        EXPECT_EQ(loaded.VariableValue(i), store.VariableValue(i)) << i;
    }
    EXPECT_EQ(loaded.VariableValue("IndexNames").LowerBound(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "sub/folder/s.dat.tmp"));
}

// A save that runs out of room (here a file size limit, as a full disk would) is reported
// and leaves the old file whole and no temporary file behind.
TEST(StoreFile, FailedSaveKeepsTheOldFile) {
    TempFolder dir;
    clsSettings old;
    old.SetVariableValue("kept", "yes");
    old.SaveData(dir / "s.dat");
    clsSettings bigger;
    bigger.SetVariableValue("IndexPath", std::string(4096, 'p'));

    {
        FileSizeLimit full(100);
        EXPECT_THROW(bigger.SaveData(dir / "s.dat"), quenloft::Error);
    }

    EXPECT_EQ(TempFolder::Read(dir / "s.dat"), old.Encode());
    EXPECT_FALSE(std::filesystem::exists(dir / "s.dat.tmp"));
}

// A text's length is 16 bits in the file, all of them: 0xFFFF is a length like any other.
TEST(StoreFile, TextOfTheLongestLengthLoadsBack) {
    TempFolder dir;
    clsSettings store;
    store.SetVariableValue("IndexPath", std::string(65535, 'p'));
    store.SaveData(dir / "s.dat");
    EXPECT_EQ(TempFolder::Read(dir / "s.dat"), Bytes({1, 0, 0, 0, 9, 0}) + "IndexPath" +
                                                   Bytes({8, 0, 0xFF, 0xFF}) +
                                                   std::string(65535, 'p'));
    clsSettings loaded;
    loaded.LoadData(dir / "s.dat");
    EXPECT_EQ(loaded.VariableValue("IndexPath").ToText(), std::string(65535, 'p'));
    EXPECT_FALSE(std::filesystem::exists(dir / "s.dat.bad"));
}

// What the format cannot hold is never cut or changed to fit: the save is refused with
// an Error that names the variable, and the file keeps its old contents.
TEST(StoreFile, ValueTheFormatCannotHoldIsRefusedAndTheOldFileStays) {
    struct Case {
        std::string Name;
        Variant Value;
        std::string Named; // what the error shows of the name
    };
    std::string longName(65536, 'n');
    const Case cases[] = {
        {"IndexPath", std::string(65536, 'p'), "\"IndexPath\""},
        {"IndexNames", Variant::Array({"index.html", std::string(70000, 'x')}, 0),
         "\"IndexNames\""},
        {longName, "v", "\"" + longName.substr(0, 37) + "...\""},
        {"Raw", Variant::Bytes("abc"), "\"Raw\""},
    };
    for (const Case& c : cases) {
        TempFolder dir;
        clsSettings store;
        store.SetVariableValue("ServerPort", "8080");
        store.SaveData(dir / "s.dat");
        std::string old = TempFolder::Read(dir / "s.dat");

        store.SetVariableValue(c.Name, c.Value);
        try {
            store.SaveData(dir / "s.dat");
            ADD_FAILURE() << c.Named << " was saved";
        } catch (const quenloft::Error& e) {
            EXPECT_NE(e.Description().find(c.Named), std::string::npos) << e.Description();
        }
        EXPECT_EQ(TempFolder::Read(dir / "s.dat"), old) << c.Named;
        EXPECT_FALSE(std::filesystem::exists(dir / "s.dat.tmp"));
    }
}

TEST(StoreFile, ShortFileLoadsMissingRecordsEmpty) {
    TempFolder dir;
    std::string file =
        dir.Write("short.dat", Bytes({3, 0, 0, 0, 1, 0, 'a', 0, 0, 1, 0, 'b', 0, 0}));
    clsSettings store;
    store.LoadData(file);
    ASSERT_EQ(store.VariableCount(), 3);
    EXPECT_EQ(store.VariableName(int32_t{1}).ToText(), "b");
    EXPECT_EQ(store.VariableName(int32_t{2}).ToText(), "");
    EXPECT_TRUE(store.VariableValue(int32_t{2}).IsEmpty());
}

TEST(StoreFile, MissingFileLeavesTheStoreAsItIs) {
    TempFolder dir;
    clsSettings store;
    store.SetVariableValue("kept", "yes");
    store.LoadData(dir / "absent.dat");
    EXPECT_EQ(store.VariableValue("kept").ToText(), "yes");
}

class MalformedStore : public ::testing::TestWithParam<std::string> {};

TEST_P(MalformedStore, LoadsEmptyAndKeepsTheFileBeside) {
    TempFolder dir;
    std::string file = dir.Write("bad.dat", GetParam());
    clsSettings store;
    store.SetVariableValue("old", "value");
    store.LoadData(file);
    EXPECT_EQ(store.VariableCount(), 0);
    EXPECT_EQ(TempFolder::Read(file + ".bad"), GetParam());
    // The next save writes a fresh store and leaves the damaged one alone.
    store.SaveData(file);
    EXPECT_EQ(TempFolder::Read(file + ".bad"), GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Store, MalformedStore,
    ::testing::Values(Bytes({0xFF, 0xFF, 0xFF, 0xFF}),                      // negative count
                      Bytes({0xFF, 0xFF, 0xFF, 0x7F, 0, 0}),                // impossible count
                      Bytes({1, 0, 0, 0, 1, 0, 'a', 99, 0}),                // unknown tag
                      Bytes({1, 0, 0, 0, 1, 0, 'a', 8, 0, 50, 0, 'x'}),     // text past the end
                      Bytes({1, 0, 0, 0, 9, 0, 'a'}),                       // name past the end
                      Bytes({1, 0, 0, 0, 1, 0, 'a', 3, 0, 1}),              // number cut short
                      Bytes({1, 0, 0, 0, 1, 0, 'a', 0x0C, 0x20, 1, 0, 0xFF, // array count
                             0xFF, 0xFF, 0x7F, 0, 0, 0, 0}),
                      Bytes({1, 0}))); // count cut short

// A byte array (tag 0x2011) is no kind of value the file holds, however well-formed: here
// one dimension, one byte, lower bound 0, the byte.
INSTANTIATE_TEST_SUITE_P(ByteArrayTag, MalformedStore,
                         ::testing::Values(Bytes({1, 0, 0, 0, 1, 0, 'a', 0x11, 0x20}) +
                                           Bytes({1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 'x'})));

TEST(StoreFile, DeeplyNestedArraysAreRefused) {
    std::string image = Bytes({1, 0, 0, 0, 1, 0, 'a'});
    for (int i = 0; i < 100; ++i) {
        image += Bytes({0x0C, 0x20, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0});
    }
    image += Bytes({0, 0});
    EXPECT_THROW(clsSettings::Decode(image), quenloft::Error);
}

} // namespace
