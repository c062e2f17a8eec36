// The double-byte rules against Wine's own code page 936, and what a lead
// byte without a valid trail byte does to the searches.

#include <gtest/gtest.h>

#include <windows.h>
#include <mbstring.h>

#include <string>

#include "framework/Mbcs.h"

namespace {

// The native build of the rules uses the table instead of the system's
// code page: all 256 bytes must agree with it.
TEST(MbcsTest, LeadAndTrailBytesAreCodePage936s) {
    ASSERT_EQ(936u, GetACP());
    for (int c = 0; c < 256; ++c) {
        SCOPED_TRACE(c);
        const bool lead = IsDBCSLeadByteEx(936, static_cast<BYTE>(c)) != FALSE;
        EXPECT_EQ(lead, mbcs::IsLeadByte936(static_cast<unsigned char>(c)));
        EXPECT_EQ(lead, mbcs::IsLeadByte(static_cast<unsigned char>(c)));
        // Behind the lead byte 0x81 every valid trail byte makes a character.
        const char pair[] = {'\x81', static_cast<char>(c)};
        wchar_t wide[2] = {};
        const int made = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, pair, 2, wide, 2);
        EXPECT_EQ(mbcs::IsTrailByte936(static_cast<unsigned char>(c)), made == 1) << made;
    }
}

struct SearchCase {
    std::string text;
    char ch;
    int first;
    int last;
    bool endsWithBackslash;
};

TEST(MbcsTest, BrokenCharactersStandAlone) {
    // 0x81 before a byte that cannot trail it is half a character; the byte
    // after it is a character of its own. 0x81 0x5C is one character.
    const SearchCase cases[] = {
        {"\x81?", '?', 1, 1, false},      {"\x81\\", '\\', -1, -1, false},
        {"\\\x81", '\\', 0, 0, false},    {"a\\\x81", '\\', 1, 1, false},
        {"\x81\x81\\", '\\', 2, 2, true}, {"\x81\x81\x81\\", '\\', -1, -1, false},
        {"\x81 \x81", ' ', 1, 1, false},  {"\x81\x7f\\", '\\', 2, 2, true},
        {"\x81\xff:", ':', 2, 2, false},  {std::string("\x81\0:", 3), ':', 2, 2, false},
    };
    for (const SearchCase& c : cases) {
        const int length = static_cast<int>(c.text.size());
        SCOPED_TRACE(testing::Message() << "text of " << length << " bytes, char " << c.ch);
        EXPECT_EQ(c.first, mbcs::FindChar(c.text.data(), length, c.ch));
        EXPECT_EQ(c.last, mbcs::ReverseFindChar(c.text.data(), length, c.ch));
        EXPECT_EQ(c.endsWithBackslash, mbcs::EndsWithBackslash(c.text.data(), length));
    }
    // A match must begin and end on character boundaries.
    EXPECT_EQ(-1, mbcs::FindSubstring("\x81R23", 4, "R23"));
    EXPECT_EQ(2, mbcs::FindSubstring("\x81\x30R23", 5, "R23"));
    EXPECT_EQ(-1, mbcs::FindSubstring("a\x81\x40", 3, "a\x81"));
    EXPECT_EQ(1, mbcs::FindSubstring("a\x81", 2, "\x81"));
}

// The native build compares names with its own stand-in: it must find two
// names equal exactly when the C runtime does. (Their order differs only
// around a lead byte without its trail byte, which the runtime joins to the
// next byte; no caller orders names.)
TEST(MbcsTest, CompareNoCaseFindsEqualWhatTheRuntimeFindsEqual) {
    const char* const texts[] = {
        "",      "SetUp.EXE", "setup.exe", "SETUP.EX", "Tovrel_EN.shx", "tovrel_en.SHX", "a",
        "A",     "[",         "_",         "\x81\x40", "\x81\x41",      "\x81\x61",      "\x81",
        "\x81 ", "\x81 a",    "\x81 A",    "\x80",     "\xff",          "\x81\x5c\x41",  "\x81\x5c\x61"};
    for (const char* a : texts) {
        for (const char* b : texts) {
            SCOPED_TRACE(testing::Message() << "\"" << a << "\" and \"" << b << "\"");
            const int runtime =
                _mbsicmp(reinterpret_cast<const unsigned char*>(a), reinterpret_cast<const unsigned char*>(b));
            EXPECT_EQ(runtime == 0, mbcs::CompareNoCase(a, b) == 0);
        }
    }
}

}  // namespace
