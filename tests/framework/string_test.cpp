#include <gtest/gtest.h>

#include "framework/String.h"

// "乗" is 0x81 0x5C in code page 936: its trail byte is a backslash's code.
static const char kTrail5C[] = "乗";

TEST(CStringTest, LiteralsAreGbk) {
    ASSERT_EQ(2u, sizeof(kTrail5C) - 1);
    EXPECT_EQ(0x81, static_cast<unsigned char>(kTrail5C[0]));
    EXPECT_EQ(0x5C, static_cast<unsigned char>(kTrail5C[1]));
}

TEST(CStringTest, SearchesNeverTakeATrailByteForABackslash) {
    const CString path = CString("C:\\a") + kTrail5C;
    EXPECT_EQ(2, path.ReverseFind('\\'));
    EXPECT_EQ(-1, path.Find('\\', 3));
    EXPECT_EQ(-1, CString(kTrail5C).Find("\\"));
    const CString twice = CString(kTrail5C) + "\\x";
    EXPECT_EQ(2, twice.Find("\\"));
    EXPECT_EQ(2, twice.ReverseFind('\\'));
}

TEST(CStringTest, FindTextStartsOnCharacterBoundaries) {
    // "R2" hidden across a character boundary must not match: 0xD2 0x52 is one
    // character whose trail byte is 'R'.
    const char tricky[] = "\xD2\x52\x32";
    EXPECT_EQ(-1, CString(tricky).Find("R2"));
    EXPECT_EQ(4, CString("GCADR25x").Find("R25"));
    EXPECT_EQ(0, CString("abc").Find(""));
    EXPECT_EQ(-1, CString("abc").Find("abcd"));
}

TEST(CStringTest, MakeLowerAndCompareNoCase) {
    CString name("GCad.EXE");
    name.MakeLower();
    EXPECT_STREQ("gcad.exe", name);
    EXPECT_EQ(0, CString("SETUP.exe").CompareNoCase("SetUp.EXE"));
    EXPECT_NE(0, CString("SetUp.ex").CompareNoCase("SetUp.EXE"));
}

TEST(CStringTest, EditingAndFormatting) {
    CString text("C:\\Tovrel\\");
    EXPECT_EQ(9, text.Delete(9));
    EXPECT_STREQ("C:\\Tovrel", text);
    EXPECT_STREQ("C:", text.Left(2));
    EXPECT_STREQ("Tovrel", text.Mid(3));
    EXPECT_THROW(CString().GetAt(-1), CInvalidArgException);
    EXPECT_THROW(CString().GetAt(0), CInvalidArgException);
    CString long_text;
    long_text.Format("%s-%d", std::string(1000, 'x').c_str(), 7);
    EXPECT_EQ(1002, long_text.GetLength());
}

TEST(CStringArrayTest, KeepsOrderAndChecksIndexes) {
    CStringArray list;
    EXPECT_EQ(0, list.Add("a"));
    EXPECT_EQ(1, list.Add("b"));
    EXPECT_STREQ("b", list[1]);
    EXPECT_THROW(list.GetAt(2), CInvalidArgException);
    list.RemoveAll();
    EXPECT_EQ(0, list.GetSize());
}
