// Pin text conversions: the wire form and the UTF-8 form a formula is evaluated in.
#include <gtest/gtest.h>

#include "factory/pin_text.h"

namespace {

TEST(PinText, BytesFromTheWireDropAnOddLastByteAndKeepZeros) {
    const unsigned char bytes[] = {'a', 0, 0, 0, 'b', 0, 'c'};
    EXPECT_EQ(pinTextFromBytes(bytes, 7), PinText(u"a\0b", 3));
    EXPECT_EQ(pinTextFromBytes(bytes, 0), PinText());
    EXPECT_EQ(pinTextByteSize(u"abc"), 6);
}

TEST(PinText, Utf8StopsAtTheFirstNulAndReplacesLoneSurrogates) {
    const struct {
        PinText text;
        std::string utf8;
    } cases[] = {
        {u"x*2", "x*2"},
        {PinText(u"x\0y", 3), "x"},
        {u"\u00e9", "\xc3\xa9"},
        {u"\u20ac", "\xe2\x82\xac"},
        {u"\U0001F600", "\xf0\x9f\x98\x80"},
        {PinText(1, char16_t(0xD800)), "\xef\xbf\xbd"},
        {PinText(1, char16_t(0xDC00)) + u"a", "\xef\xbf\xbd"
                                              "a"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(utf8FromPinText(c.text), c.utf8);
}

TEST(PinText, Utf8IntoABufferWritesWholeCharactersAndReportsTheFullLength) {
    char buffer[5];
    // "a" + e-acute (2 bytes) + euro (3 bytes): 6 bytes in all; 4 fit, but the euro sign does not.
    EXPECT_EQ(utf8FromPinText(u"a\u00e9\u20ac", buffer, sizeof(buffer)), 6u);
    EXPECT_STREQ(buffer, "a\xc3\xa9");
    EXPECT_EQ(utf8FromPinText(u"abcd", buffer, sizeof(buffer)), 4u);
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(utf8FromPinText(u"abcde", buffer, sizeof(buffer)), 5u);
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(utf8FromPinText(u"abc", nullptr, 0), 3u);
}

TEST(PinText, WideAndPinTextRoundTripOutsideTheBasicPlane) {
    const std::wstring wide = L"a\u00e9\U0001F600";
    const PinText text = pinTextFromWide(wide);
    EXPECT_EQ(text, PinText(u"a\u00e9\U0001F600"));
    EXPECT_EQ(wideFromPinText(text), wide);
}

} // namespace
