// Reading the settings edits' text, and the warning box's title.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "convert/conversion_job.h"
#include "convert/warning_box.h"

namespace {

TEST(SettingNumber, ParsesLikeTheEditsAreRead) {
    struct Case {
        const char* text;
        int32_t expected;
    } cases[] = {
        {"20", 20},          {"", 0},           {"400", 400},         {"-15", -15},
        {"+7", 7},           {" \t\n\v\f\r42", 42}, {"12abc", 12},    {"abc12", 0},
        {"- 5", 0},          {"--5", 0},        {"+-5", 0},           {"007", 7},
        {"2147483647", 2147483647}, {"2147483648", INT32_MIN}, {"-2147483648", INT32_MIN},
        {"4294967296", 0},   {"4294967297", 1}, {"99999999999", 1215752191}, {"-1", -1},
        {"\xEF\xBC\x91", 0},  // a full-width digit is not a digit
    };
    for (const Case& c : cases) EXPECT_EQ(ParseSettingNumber(c.text), c.expected) << '"' << c.text << '"';
}

TEST(WarningCaption, IsTheShiftJisTitleThenTheCode) {
    // "このファイルは変換できませんでした" in Shift_JIS, from code page 932's table.
    const unsigned char japanese[] = {0x82, 0xB1, 0x82, 0xCC, 0x83, 0x74, 0x83, 0x40, 0x83, 0x43, 0x83, 0x8B,
                                      0x82, 0xCD, 0x95, 0xCF, 0x8A, 0xB7, 0x82, 0xC5, 0x82, 0xAB, 0x82, 0xDC,
                                      0x82, 0xB9, 0x82, 0xF1, 0x82, 0xC5, 0x82, 0xB5, 0x82, 0xBD};
    const std::string title = std::string(reinterpret_cast<const char*>(japanese), sizeof(japanese)) + "(code:";
    ASSERT_EQ(title.size(), 40u);
    struct Case {
        int32_t code;
        const char* tail;
    } cases[] = {{0, "0)"}, {7, "7)"}, {-3, "-3)"}, {1234, "1234)"}, {INT32_MIN, "-2147483648)"}};
    for (const Case& c : cases) {
        char caption[kCaptionCapacity];
        std::memset(caption, 'x', sizeof(caption));
        FormatConversionErrorCaption(c.code, caption);
        EXPECT_EQ(std::string(caption), title + c.tail);
    }
}

}  // namespace
