#include "framework/afxstr.h"

#include <gtest/gtest.h>

TEST(CString, LeftAndRightClampTheirCount) {
    const CString text("abcdef");
    EXPECT_EQ(text.Left(-1), "");
    EXPECT_EQ(text.Left(0), "");
    EXPECT_EQ(text.Left(2), "ab");
    EXPECT_EQ(text.Left(6), "abcdef");
    EXPECT_EQ(text.Left(99), "abcdef");
    EXPECT_EQ(text.Right(-5), "");
    EXPECT_EQ(text.Right(2), "ef");
    EXPECT_EQ(text.Right(6), "abcdef");
    EXPECT_EQ(text.Right(7), "abcdef");
}

TEST(CString, MidAndFind) {
    const CString text("PARTNUM = Q7A");
    EXPECT_EQ(text.Find("PARTNUM = "), 0);
    EXPECT_EQ(text.Find("Q7A"), 10);
    EXPECT_EQ(text.Find("partnum"), -1);  // case-sensitive
    EXPECT_EQ(text.Find('='), 8);
    EXPECT_EQ(text.Mid(10, 3), "Q7A");
    EXPECT_EQ(text.Mid(12, 3), "A");
    EXPECT_EQ(text.Mid(13, 3), "");
    EXPECT_EQ(text.Mid(99), "");
}

TEST(CString, ComparisonIsByteForByte) {
    EXPECT_TRUE(CString("/proj") == CString("/proj"));
    EXPECT_FALSE(CString("/proj") == CString("/PROJ"));
    EXPECT_FALSE(CString("/proj") == CString("/proj\\"));
    EXPECT_EQ(CString("a") + "b" + CString("c"), "abc");
    // Embedded NULs survive a copy: the text is counted, not terminated.
    const CString withNul(std::string("a\0b", 3));
    EXPECT_EQ(withNul.GetLength(), 3);
}

TEST(CString, LoadsTheAboutEntry) {
    CString s;
    EXPECT_TRUE(s.LoadString(101));
    EXPECT_EQ(s, "&About Quenvol...");
    EXPECT_FALSE(s.LoadString(4711));
    EXPECT_TRUE(s.IsEmpty());
}
