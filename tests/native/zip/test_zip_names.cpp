// Entry-name rules: what may be created below the extraction directory.
#include "entryname.h"

#include <gtest/gtest.h>

namespace {

using zipcore::EntryPath;
using zipcore::toSafeEntryPath;

class RefusedName : public ::testing::TestWithParam<std::u16string> {};

TEST_P(RefusedName, IsNeverTurnedIntoAPath) {
    EntryPath path;
    EXPECT_FALSE(toSafeEntryPath(GetParam(), path));
}

INSTANTIATE_TEST_SUITE_P(
    EscapesTheDirectory, RefusedName,
    ::testing::Values(u"", u"/", u"/abs", u"\\abs", u"//server/share/x", u"\\\\server\\share\\x", u"\\\\?\\C:\\x",
                      u"../x", u"..\\x", u"a/../../b", u"a\\..\\..\\b", u"a/..", u"a/../b", u"..", u"./a", u"a/./b",
                      u"a//b", u"a\\\\b", u"dir//"));

INSTANTIATE_TEST_SUITE_P(DrivesAndStreams, RefusedName,
                         ::testing::Values(u"C:x", u"C:\\x", u"c:/x", u"file.txt:hidden", u"file.txt::$DATA",
                                           u"a/b:c"));

INSTANTIATE_TEST_SUITE_P(AlteredByWindows, RefusedName,
                         ::testing::Values(u"name.", u"name ", u"dir./x", u"dir /x", u"...", u" ", u"a<b", u"a>b",
                                           u"a\"b", u"a|b", u"a?b", u"a*b", u"tab\there", std::u16string(u"nul\0x", 5),
                                           u"a\x1f"));

INSTANTIATE_TEST_SUITE_P(DeviceNames, RefusedName,
                         ::testing::Values(u"CON", u"con", u"Con.txt", u"CON .txt", u"sub/nul", u"NUL.tar.gz",
                                           u"prn", u"AUX.c", u"COM1", u"com9.log", u"LPT1", u"lpt5.txt", u"COM\u00B9",
                                           u"LPT\u00B3", u"CONIN$", u"conout$.txt", u"dir/COM0/x"));

class AcceptedName : public ::testing::TestWithParam<std::u16string> {};

TEST_P(AcceptedName, BecomesARelativePath) {
    EntryPath path;
    ASSERT_TRUE(toSafeEntryPath(GetParam(), path));
    EXPECT_FALSE(path.parts.empty());
}

INSTANTIATE_TEST_SUITE_P(Ordinary, AcceptedName,
                         ::testing::Values(u"a", u"a.txt", u".hidden", u"..a", u"a..b", u"a/b/c.txt", u"x/",
                                           u"CONSOLE", u"COM10", u"LPT", u"nul_", u"aux-file.txt", u"icon.d/ok",
                                           u"\u4e2d\u6587/\u6587\u4ef6.txt", u"spaces inside/a b.txt", u"a~1"));

TEST(EntryPathSplitting, SplitsAtBothSeparators) {
    EntryPath path;
    ASSERT_TRUE(toSafeEntryPath(u"top\\mid/leaf.txt", path));
    EXPECT_EQ(path.parts, (zipcore::PathParts{u"top", u"mid", u"leaf.txt"}));
    EXPECT_FALSE(path.isDirectory);
}

TEST(EntryPathSplitting, TrailingSeparatorMarksADirectory) {
    EntryPath path;
    ASSERT_TRUE(toSafeEntryPath(u"top/sub/", path));
    EXPECT_EQ(path.parts, (zipcore::PathParts{u"top", u"sub"}));
    EXPECT_TRUE(path.isDirectory);
    ASSERT_TRUE(toSafeEntryPath(u"win\\", path));
    EXPECT_EQ(path.parts, (zipcore::PathParts{u"win"}));
    EXPECT_TRUE(path.isDirectory);
}

}  // namespace
