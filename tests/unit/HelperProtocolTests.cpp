// The replies of the 64-bit helper: an outcome survives the trip whole, and
// a damaged reply is refused rather than half read.
#include <gtest/gtest.h>

#include <string>

#include "engine/uHelper.h"

using engine::DecodeReply;
using engine::EncodeReply;
using engine::TRegOutcome;

TEST(HelperProtocol, RepliesRoundTripAndDamageIsRefused) {
    TRegOutcome sent{false, "Call to 'DllRegisterServer' failed in 'a b.dll'.", "Line one.\r\nLine \xE9 two.", 12.5};
    TRegOutcome got;
    ASSERT_TRUE(DecodeReply(EncodeReply(sent), got));
    EXPECT_FALSE(got.success);
    EXPECT_EQ(got.message, sent.message);
    EXPECT_EQ(got.details, sent.details);
    EXPECT_DOUBLE_EQ(got.ms, 12.5);
    ASSERT_TRUE(DecodeReply(EncodeReply(TRegOutcome{true, "ok", "", 0}), got));
    EXPECT_TRUE(got.success);
    EXPECT_EQ(got.details, "");

    const std::string damaged[] = {
        std::string(),                                 // nothing
        std::string("1", 1),                           // no fields
        std::string("2\0" "1\0m\0d", 7),               // not a success flag
        std::string("1\0" "x\0m\0d", 7),               // not a number
        std::string("1\0" "-1\0m\0d", 8),              // a negative time
        std::string("1\0" "1\0m", 5),                  // no details field
        std::string("1\0" "1\0m\0d\0e", 9),            // a field too many
        std::string("10\0" "1\0m\0d", 8),              // flag of two characters
    };
    for (const std::string& bytes : damaged) {
        EXPECT_FALSE(DecodeReply(bytes, got)) << testing::PrintToString(bytes);
    }
}

TEST(HelperProtocol, RequestsRoundTripAndDamageIsRefused) {
    using engine::TServerKind;
    struct {
        TServerKind kind;
        bool register_;
        QVLanguage language;
    } cases[] = {{TServerKind::Library, true, qlEnglish}, {TServerKind::TypeLibrary, false, qlPortuguese}};
    for (const auto& c : cases) {
        TServerKind kind = TServerKind::Executable;
        std::string path;
        bool register_ = !c.register_;
        QVLanguage language = c.language == qlEnglish ? qlPortuguese : qlEnglish;
        ASSERT_TRUE(engine::DecodeRequest(engine::EncodeRequest(c.kind, "C:\\a b\\x.dll", c.register_, c.language),
                                          kind, path, register_, language));
        EXPECT_EQ(kind, c.kind);
        EXPECT_EQ(path, "C:\\a b\\x.dll");
        EXPECT_EQ(register_, c.register_);
        EXPECT_EQ(language, c.language);
    }
    // A request of the earlier helpers (no kind), unknown letters, no kind
    // at all, a NUL inside the path.
    for (const std::string& bytes : {std::string("ReC:\\x.dll"), std::string("XeLC:\\x"), std::string("Re"),
                                    std::string("ReLC:\\x\0y", 9)}) {
        TServerKind kind;
        std::string path;
        bool register_;
        QVLanguage language;
        EXPECT_FALSE(engine::DecodeRequest(bytes, kind, path, register_, language)) << testing::PrintToString(bytes);
    }
}
