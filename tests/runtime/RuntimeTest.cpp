#include "runtime/ErrorText.h"
#include "runtime/Exceptions.h"
#include "runtime/FloatDivision.h"
#include "runtime/IntegerConversion.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct ConversionCase {
    const char* text;
    std::optional<std::int32_t> value;
};

class IntegerConversion : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(IntegerConversion, ReadsOrRefusesAsTyped)
{
    const auto& c = GetParam();
    EXPECT_EQ(runtime::tryStrToInt(c.text), c.value) << '"' << c.text << '"';
    if (c.value) {
        EXPECT_EQ(runtime::strToInt(c.text), *c.value);
    } else {
        try {
            runtime::strToInt(c.text);
            FAIL() << "no error for \"" << c.text << '"';
        } catch (const runtime::EConvertError& e) {
            EXPECT_EQ(e.message(), std::string("'") + c.text + "' は整数ではありません");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, IntegerConversion, ::testing::Values(
    ConversionCase{"12", 12},
    ConversionCase{" 12", 12},
    ConversionCase{"   -7", -7},
    ConversionCase{"12 ", std::nullopt},
    ConversionCase{"\t12", std::nullopt},
    ConversionCase{"$1F", 31},
    ConversionCase{"x1F", 31},
    ConversionCase{"X1f", 31},
    ConversionCase{"0x1F", 31},
    ConversionCase{"0X1F", 31},
    ConversionCase{"-$10", -16},
    ConversionCase{"+$10", 16},
    ConversionCase{"$FFFFFFFF", -1},
    ConversionCase{"$000000000001", 1},
    ConversionCase{"$100000000", std::nullopt},
    ConversionCase{"$", std::nullopt},
    ConversionCase{"0x", std::nullopt},
    ConversionCase{"$1G", std::nullopt},
    ConversionCase{"012", 12},
    ConversionCase{"0", 0},
    ConversionCase{"+5", 5},
    ConversionCase{"- 5", std::nullopt},
    ConversionCase{"--5", std::nullopt},
    ConversionCase{"2147483647", 2147483647},
    ConversionCase{"2147483648", std::nullopt},
    ConversionCase{"-2147483648", INT32_MIN},
    ConversionCase{"-2147483649", std::nullopt},
    ConversionCase{"99999999999999999999", std::nullopt},
    ConversionCase{"", std::nullopt},
    ConversionCase{"   ", std::nullopt},
    ConversionCase{"-", std::nullopt},
    ConversionCase{"1.0", std::nullopt},
    ConversionCase{"1,000", std::nullopt},
    ConversionCase{"１２", std::nullopt},
    ConversionCase{"1２", std::nullopt},
    ConversionCase{"abc", std::nullopt}));

TEST(ErrorBoxText, AddsFullStopOnlyAfterCharactersAboveIt)
{
    const struct {
        const char* message;
        const char* shown;
    } cases[] = {
        {"'abc' は整数ではありません", "'abc' は整数ではありません."},
        {"''", "''"},  // an apostrophe sorts below "."
        {"0 による浮動小数点数除算", "0 による浮動小数点数除算."},
        {"プロパティ TProgressBar の範囲を超えています", "プロパティ TProgressBar の範囲を超えています."},
        {"done.", "done."},
        {"a,", "a,"},
        {"a-", "a-"},
        {"a ", "a "},
        {"a/", "a/."},
        {"A", "A."},
        {"9", "9."},
        {"ｱ", "ｱ."},  // half-width katakana is one byte above 0x80 in the code page
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(runtime::errorBoxText(c.message), c.shown) << c.message;
}

TEST(ApplicationTitle, ComesFromTheProgramFileName)
{
    const struct {
        const char* path;
        const char* title;
    } cases[] = {
        {"build/zrvimage", "zrvimage"},
        {"/usr/local/bin/zrvimage", "zrvimage"},
        {"/opt/ZRVImage.Tool.bin", "Zrvimage"},
        {"zrvimage", "zrvimage"},
        {"/a.b/ZRV", "Zrv"},
        {"/dir/", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(runtime::applicationTitle(c.path), c.title) << c.path;
}

TEST(FloatDivision, RaisesTheErrorsTheUserIsShown)
{
    EXPECT_EQ(runtime::divideToFloat(1.0L, 3.0L), 1.0f / 3.0f);
    EXPECT_THROW(runtime::divideToFloat(1.0L, 0.0L), runtime::EZeroDivide);
    EXPECT_THROW(runtime::divideToFloat(-1.0L, 0.0L), runtime::EZeroDivide);
    EXPECT_THROW(runtime::divideToFloat(0.0L, 0.0L), runtime::EInvalidOp);
    EXPECT_THROW(runtime::divideToFloat(1e30L, 1e-30L), runtime::EOverflow);
    EXPECT_EQ(runtime::EZeroDivide().message(), "0 による浮動小数点数除算");
    EXPECT_EQ(runtime::EInvalidOp().message(), "不正な浮動小数点数演算命令");
    EXPECT_EQ(runtime::EOverflow().message(), "浮動小数点数のオーバーフロー");
}

}  // namespace
