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
    sent.failure = engine::TFailure::Helper;
    TRegOutcome got;
    ASSERT_TRUE(DecodeReply(EncodeReply(sent), got));
    EXPECT_FALSE(got.success);
    EXPECT_EQ(got.failure, engine::TFailure::Helper);
    EXPECT_EQ(got.message, sent.message);
    EXPECT_EQ(got.details, sent.details);
    EXPECT_DOUBLE_EQ(got.ms, 12.5);
    ASSERT_TRUE(DecodeReply(EncodeReply(TRegOutcome{true, "ok", "", 0}), got));
    EXPECT_TRUE(got.success);
    EXPECT_EQ(got.failure, engine::TFailure::None);
    EXPECT_EQ(got.details, "");

    const std::string damaged[] = {
        std::string(),                                 // nothing
        std::string("1", 1),                           // no fields
        std::string("2\0" "1\0" "0\0m\0d", 9),          // not a success flag
        std::string("1\0" "x\0" "0\0m\0d", 9),          // not a number
        std::string("1\0" "-1\0" "0\0m\0d", 10),        // a negative time
        std::string("1\0" "1\0" "0\0m", 7),             // no details field
        std::string("1\0" "1\0" "0\0m\0d\0e", 11),       // a field too many
        std::string("10\0" "1\0" "0\0m\0d", 10),        // flag of two characters
        std::string("0\0" "1\0m\0d", 7),               // no kind of failure (an earlier helper)
        std::string("0\0" "1\0" ":\0m\0d", 9),          // a kind out of range
        std::string("0\0" "1\0" "12\0m\0d", 10),        // a kind of two digits
    };
    for (const std::string& bytes : damaged) {
        EXPECT_FALSE(DecodeReply(bytes, got)) << testing::PrintToString(bytes);
    }
}

TEST(HelperProtocol, RequestsRoundTripAndDamageIsRefused) {
    using engine::TEntryPoints;
    using engine::THelperRequest;
    using engine::TServerKind;
    const struct {
        TServerKind kind;
        bool register_;
        QVLanguage language;
        TEntryPoints entries;
        bool anySuccessCode;
        std::wstring text;
        bool perUser;
        bool capture = false;
    } cases[] = {
        {TServerKind::Library, true, qlEnglish, TEntryPoints::Server, false, L"", false},
        {TServerKind::Library, true, qlEnglish, TEntryPoints::Server, false, L"", false, true},
        {TServerKind::TypeLibrary, true, qlPortuguese, TEntryPoints::Server, false, L"", false, true},
        {TServerKind::TypeLibrary, false, qlPortuguese, TEntryPoints::Server, true, L"", true},
        {TServerKind::Library, false, qlEnglish, TEntryPoints::ServerAndInstall, false, L"a\x00E7\x00E3o \x03A9 \x65E5",
         true},
        {TServerKind::Library, true, qlEnglish, TEntryPoints::InstallOnly, true, L"x", false},
    };
    for (const auto& c : cases) {
        THelperRequest sent;
        sent.kind = c.kind;
        sent.fullPath = "C:\\a b\\x.dll";
        sent.register_ = c.register_;
        sent.language = c.language;
        sent.entryPoints = c.entries;
        sent.anySuccessCode = c.anySuccessCode;
        sent.installText = c.text;
        sent.perUser = c.perUser;
        sent.capture = c.capture;
        THelperRequest got;
        got.installText = L"left over";
        ASSERT_TRUE(engine::DecodeRequest(engine::EncodeRequest(sent), got));
        EXPECT_EQ(got.kind, c.kind);
        EXPECT_EQ(got.fullPath, "C:\\a b\\x.dll");
        EXPECT_EQ(got.register_, c.register_);
        EXPECT_EQ(got.language, c.language);
        EXPECT_EQ(got.entryPoints, c.entries);
        EXPECT_EQ(got.anySuccessCode, c.anySuccessCode);
        EXPECT_TRUE(got.installText == c.text);
        EXPECT_EQ(got.perUser, c.perUser);
        EXPECT_EQ(got.capture, c.capture);
        // A capture is asked for with its own first letter.
        EXPECT_EQ(engine::EncodeRequest(sent)[0], c.capture ? 'C' : c.register_ ? 'R' : 'U');
    }
    // Requests of the earlier helpers (no kind; no entry points; no scope),
    // unknown letters, no NUL after the path, a second NUL, text that is not
    // UTF-8.
    for (const std::string& bytes :
         {std::string("ReC:\\x.dll"), std::string("ReLC:\\x"), std::string("ReLSoC:\\x\0", 10),
          std::string("XeLSomC:\\x", 11), std::string("ReLXomC:\\x\0", 11), std::string("ReLSxmC:\\x\0", 11),
          std::string("ReLSoxC:\\x\0", 11), std::string("ReLSomC:\\x"), std::string("ReLSouC:\\x\0y\0", 13),
          std::string("ReLBomC:\\x\0\xC3", 12), std::string("ReLSo"), std::string("Re")}) {
        THelperRequest got;
        EXPECT_FALSE(engine::DecodeRequest(bytes, got)) << testing::PrintToString(bytes);
    }
}
