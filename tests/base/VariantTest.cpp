// The tagged value: widening addition, the numeric test, conversions and memory images.
#include "base/Variant.h"

#include "base/Error.h"

#include <cmath>
#include <gtest/gtest.h>

using quenloft::Error;
using quenloft::Variant;
using quenloft::VarType;

namespace {

int ErrorNumberOf(const auto& step) {
    try {
        step();
    } catch (const Error& e) {
        return e.Number();
    }
    return 0;
}

TEST(VariantAddition, WidensInsteadOfOverflowing) {
    Variant counter = Variant(int16_t{32767}) + Variant(int16_t{1});
    EXPECT_EQ(counter.Type(), VarType::Long);
    EXPECT_EQ(counter.RawInteger(), 32768);

    Variant big = Variant(int32_t{2147483647}) + Variant(int16_t{1024});
    EXPECT_EQ(big.Type(), VarType::Double);
    EXPECT_EQ(big.RawFloat(), 2147484671.0);

    Variant small = Variant(int16_t{5}) + Variant(int16_t{1024});
    EXPECT_EQ(small.Type(), VarType::Integer);
    EXPECT_EQ(small.RawInteger(), 1029);
}

TEST(VariantAddition, EmptyCountsAsZero) {
    Variant sum = Variant() + Variant(int16_t{1024});
    EXPECT_EQ(sum.Type(), VarType::Integer);
    EXPECT_EQ(sum.RawInteger(), 1024);
    EXPECT_EQ((Variant() + Variant()).Type(), VarType::Integer);
}

TEST(VariantAddition, TextsJoinAndNonNumbersMismatch) {
    EXPECT_EQ((Variant("ab") + Variant("cd")).ToText(), "abcd");
    EXPECT_EQ((Variant(" 8 ") + Variant(int16_t{2})).ToDouble(), 10.0);
    EXPECT_EQ(ErrorNumberOf([] { Variant("abc") + Variant(int16_t{1}); }), 13);
    EXPECT_EQ(ErrorNumberOf([] { Variant::Array({}) + Variant(int16_t{1}); }), 13);
}

TEST(VariantNumericTest, AcceptsNumbersAndNumericTextsOnly) {
    for (const char* text : {"12", "1.5", "-3", " 8080 ", "+7", ".5", "1e3", "0"}) {
        EXPECT_TRUE(Variant(text).IsNumeric()) << text;
    }
    for (const char* text : {"", " ", "abc", "12a", "1.2.3", "-", ".", "1e", "0x10"}) {
        EXPECT_FALSE(Variant(text).IsNumeric()) << text;
    }
    EXPECT_TRUE(Variant(int16_t{1}).IsNumeric());
    EXPECT_FALSE(Variant().IsNumeric());
    EXPECT_FALSE(Variant::Array({}).IsNumeric());
}

TEST(VariantConversion, RoundsHalfToEvenAndReportsFailures) {
    EXPECT_EQ(Variant(2.5).ToInteger(), 2);
    EXPECT_EQ(Variant(3.5).ToInteger(), 4);
    EXPECT_EQ(Variant("-2.5").ToLong(), -2);
    EXPECT_EQ(Variant(" 8080 ").ToLong(), 8080);
    EXPECT_EQ(Variant().ToLong(), 0);
    EXPECT_EQ(ErrorNumberOf([] { Variant("abc").ToLong(); }), 13);
    EXPECT_EQ(ErrorNumberOf([] { Variant(int32_t{40000}).ToInteger(); }), 6);
    EXPECT_EQ(ErrorNumberOf([] { Variant(1e12).ToLong(); }), 6);
    EXPECT_EQ(ErrorNumberOf([] { Variant(std::nan("")).ToLong(); }), 6);
}

TEST(VariantConversion, TextOfEachKind) {
    EXPECT_EQ(Variant(int16_t{80}).ToText(), "80");
    EXPECT_EQ(Variant(2147484671.0).ToText(), "2147484671");
    EXPECT_EQ(Variant(1.5).ToText(), "1.5");
    EXPECT_EQ(Variant::Single(0.1f).ToText(), "0.1");
    EXPECT_EQ(Variant::Boolean(true).ToText(), "True");
    EXPECT_EQ(Variant().ToText(), "");
    EXPECT_EQ(Variant::Currency(15000).ToText(), "1.5");
}

TEST(VariantComparison, ComparesNumerically) {
    EXPECT_TRUE(Variant(int16_t{1}).EqualsNumber(1));
    EXPECT_TRUE(Variant("1").EqualsNumber(1));
    EXPECT_FALSE(Variant().EqualsNumber(1));
    EXPECT_TRUE(Variant().EqualsNumber(0));
    EXPECT_FALSE(Variant("one").EqualsNumber(1));
}

TEST(VariantImage, NumbersTravelLittleEndian) {
    EXPECT_EQ(Variant(int32_t{1}).Image(), std::string("\x01\x00\x00\x00", 4));
    EXPECT_EQ(Variant::Boolean(true).Image(), "\xFF\xFF");
    for (Variant v : {Variant(int16_t{-2}), Variant(int32_t{123456}), Variant(2.25),
                      Variant::Single(1.5f), Variant::Currency(-5), Variant::Date(1.25),
                      Variant::Byte(200), Variant::Boolean(false)}) {
        EXPECT_EQ(Variant::FromImage(v.Type(), v.Image()), v);
    }
    // Missing high bytes are zero.
    EXPECT_EQ(Variant::FromImage(VarType::Long, "\x05").RawInteger(), 5);
}

} // namespace
