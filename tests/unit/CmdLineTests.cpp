// The command-line parser: splitting, switches, and the fallback to an
// ordinary start.
#include <gtest/gtest.h>

#include <set>

#include "app/uCmdLine.h"

using app::InterpretParameters;
using app::SplitParameters;

namespace {

using Strings = std::vector<std::string>;

TEST(SplitParameters, SkipsTheProgramAndSplitsAtBlanksAndTabs) {
    EXPECT_EQ(SplitParameters("prog.exe"), Strings{});
    EXPECT_EQ(SplitParameters("prog.exe  /N"), Strings{"/N"});
    EXPECT_EQ(SplitParameters("prog.exe\t/F:a.kvx \t extra "), (Strings{"/F:a.kvx", "extra"}));
    EXPECT_EQ(SplitParameters(""), Strings{});
    EXPECT_EQ(SplitParameters("   "), Strings{});
}

TEST(SplitParameters, QuotesJoinAndDisappear) {
    // As Explorer passes a verb's file: one parameter, quotes removed.
    EXPECT_EQ(SplitParameters("\"C:\\Program Files\\Corvantis.exe\" \"/U:C:\\my folder\\a b.dll\""),
              Strings{"/U:C:\\my folder\\a b.dll"});
    EXPECT_EQ(SplitParameters("prog /R:\"C:\\x y\\a.dll\""), Strings{"/R:C:\\x y\\a.dll"});
    // Without quotes, the blank splits the path.
    EXPECT_EQ(SplitParameters("prog /R:C:\\x y\\a.dll"), (Strings{"/R:C:\\x", "y\\a.dll"}));
    // An unclosed quote runs to the end.
    EXPECT_EQ(SplitParameters("prog \"/F:a b"), Strings{"/F:a b"});
    // An empty quoted parameter still counts.
    EXPECT_EQ(SplitParameters("prog \"\""), Strings{""});
}

struct FakeFiles {
    std::set<std::string> existing;
    std::function<bool(const std::string&)> test() const {
        return [this](const std::string& path) { return existing.count(path) > 0; };
    }
};

TEST(InterpretParameters, SwitchesIgnoreCase) {
    FakeFiles files{{"C:\\a.dll", "C:\\b.kvx"}};
    auto r = InterpretParameters({"/r:C:\\a.dll"}, files.test());
    EXPECT_EQ(r.mode, smRegister);
    EXPECT_EQ(r.file, "C:\\a.dll");
    r = InterpretParameters({"/U:C:\\a.dll"}, files.test());
    EXPECT_EQ(r.mode, smUnregister);
    EXPECT_EQ(r.file, "C:\\a.dll");
    r = InterpretParameters({"/f:C:\\b.kvx"}, files.test());
    EXPECT_EQ(r.mode, smOpenBatch);
    EXPECT_EQ(r.file, "C:\\b.kvx");
}

TEST(InterpretParameters, OnlyTheFirstTwoCharactersOfNCount) {
    FakeFiles none;
    for (const char* p : {"/N", "/n", "/New", "/nothing", "/N:whatever"}) {
        auto r = InterpretParameters({p}, none.test());
        EXPECT_EQ(r.mode, smNewBatch) << p;
        EXPECT_EQ(r.file, "") << p;
    }
}

TEST(InterpretParameters, AnythingElseStartsOrdinarily) {
    FakeFiles files{{"C:\\a.dll", "C:\\b.kvx"}};
    for (const Strings& p : {Strings{}, Strings{"C:\\a.dll"}, Strings{"/X:C:\\a.dll"}, Strings{"/F:C:\\b.kvx", "extra"},
                             Strings{"/R"}, Strings{"/"}, Strings{""}, Strings{"-R:C:\\a.dll"}}) {
        auto r = InterpretParameters(p, files.test());
        EXPECT_EQ(r.mode, smNormal);
        EXPECT_EQ(r.file, "");
    }
}

TEST(InterpretParameters, MissingFileFallsBackSilently) {
    FakeFiles none;
    for (const char* p : {"/R:C:\\missing.dll", "/U:C:\\missing.dll", "/F:C:\\missing.kvx"}) {
        auto r = InterpretParameters({p}, none.test());
        EXPECT_EQ(r.mode, smNormal) << p;
        EXPECT_EQ(r.file, "") << p;
    }
}

TEST(InterpretParameters, EmptyFileKeepsTheMode) {
    // No file to test: "/R:" reports a missing library, "/F:" asks for a batch.
    FakeFiles none;
    auto r = InterpretParameters({"/R:"}, none.test());
    EXPECT_EQ(r.mode, smRegister);
    EXPECT_EQ(r.file, "");
    r = InterpretParameters({"/F:"}, none.test());
    EXPECT_EQ(r.mode, smOpenBatch);
    r = InterpretParameters({"/u:"}, none.test());
    EXPECT_EQ(r.mode, smUnregister);
}

}  // namespace
