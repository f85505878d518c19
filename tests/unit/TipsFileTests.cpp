// The tips file's rules: line endings, blank lines, a NUL, a missing file,
// and the shuffle. All but the files and the program's own strings also
// build and run natively on the build host.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "common/QVTipsFile.h"

#ifdef _WIN32
#include "common/QVStrings.h"
#include "resource.h"
#include "support/TestEnv.h"
#endif

namespace {

using Tips = std::vector<std::string>;

struct SplitCase {
    const char* name;
    std::string text;
    Tips tips;
};

class SplitTipsCases : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTipsCases, GivesTheLines) { EXPECT_EQ(qv::SplitTips(GetParam().text), GetParam().tips); }

INSTANTIATE_TEST_SUITE_P(
    TipsFile, SplitTipsCases,
    ::testing::Values(
        SplitCase{"CrLf", "one\r\ntwo\r\nthree\r\n", {"one", "two", "three"}},
        SplitCase{"CrOnly", "one\rtwo\rthree\r", {"one", "two", "three"}},
        SplitCase{"LfOnly", "one\ntwo\nthree\n", {"one", "two", "three"}},
        SplitCase{"Mixed", "one\rtwo\nthree\r\nfour", {"one", "two", "three", "four"}},
        SplitCase{"LastLineWithoutEnding", "one\r\ntwo", {"one", "two"}},
        SplitCase{"BlankLinesAreEmptyTips", "one\r\n\r\ntwo\n\nthree", {"one", "", "two", "", "three"}},
        SplitCase{"LfThenCrIsTwoEndings", "one\n\rtwo", {"one", "", "two"}},
        SplitCase{"CrCrLfIsTwoEndings", "one\r\r\ntwo", {"one", "", "two"}},
        SplitCase{"OnlyAnEnding", "\r\n", {""}},
        SplitCase{"Empty", "", {}},
        SplitCase{"NulEndsTheText", std::string("one\r\ntw\0o\r\nthree", 17), {"one", "tw"}},
        SplitCase{"NulFirst", std::string("\0one", 4), {}},
        SplitCase{"BytesAndAmpersandsUnchanged", "Caf\xE9 & \"tabs\"\there  \r\n", {"Caf\xE9 & \"tabs\"\there  "}}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

#ifdef _WIN32
TEST(TipsFile, ReadsTheFileAsItsBytes) {
    std::string dir = testenv::MakeTempDir("tipsfile");
    testenv::WriteFile(dir + "Cr.tip", "first\rsecond\r");
    Tips tips{"left over"};
    EXPECT_TRUE(qv::ReadTipsFile(dir + "Cr.tip", tips));
    EXPECT_EQ(tips, (Tips{"first", "second"}));

    testenv::WriteFile(dir + "Empty.tip", "");
    EXPECT_TRUE(qv::ReadTipsFile(dir + "Empty.tip", tips));
    EXPECT_TRUE(tips.empty());
}

TEST(TipsFile, AMissingFileOrAFolderCannotBeRead) {
    std::string dir = testenv::MakeTempDir("tipsmissing");
    Tips tips{"left over"};
    EXPECT_FALSE(qv::ReadTipsFile(dir + "None.tip", tips));
    EXPECT_TRUE(tips.empty());
    tips = {"left over"};
    EXPECT_FALSE(qv::ReadTipsFile(dir, tips));
    EXPECT_TRUE(tips.empty());
}

#endif  // _WIN32

TEST(ShuffleStrings, KeepsEveryLineOnce) {
    Tips lines{"a", "b", "c", "d", "e", "", "e"};
    Tips shuffled = lines;
    std::mt19937 random(7);
    qv::ShuffleStrings(shuffled, random);
    ASSERT_EQ(shuffled.size(), lines.size());
    EXPECT_TRUE(std::is_permutation(shuffled.begin(), shuffled.end(), lines.begin()));

    Tips none;
    qv::ShuffleStrings(none, random);
    EXPECT_TRUE(none.empty());
    Tips one{"only"};
    qv::ShuffleStrings(one);
    EXPECT_EQ(one, Tips{"only"});
}

TEST(ShuffleStrings, EveryOrderOfThreeComesUp) {
    // 600 draws of the six orders: each must occur, none may dominate.
    std::mt19937 random(12345);
    std::map<Tips, int> seen;
    for (int i = 0; i < 600; ++i) {
        Tips lines{"a", "b", "c"};
        qv::ShuffleStrings(lines, random);
        ++seen[lines];
    }
    EXPECT_EQ(seen.size(), 6u);
    for (const auto& [order, count] : seen) EXPECT_GT(count, 50) << order[0] << order[1] << order[2];
}

#ifdef _WIN32
TEST(TipsFile, TheMissingFileWarningIsDeciphered) {
    std::string text = qv::LoadEncipheredStr(IDS_TIPS_MISSING);
    EXPECT_EQ(text, "The tips file was not found, so there are no tips to show.");
}

#endif  // _WIN32

}  // namespace
