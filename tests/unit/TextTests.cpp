// Text rules: line breaks for the details dialog, message formatting, file
// name parts, and the string table's messages.
#include <gtest/gtest.h>

#include "common/QVExceptions.h"
#include "common/QVMsgFrm.h"
#include "common/QVStrings.h"
#include "common/QVCodePage.h"
#include "common/QVSystem.h"
#include "engine/uRegistry.h"
#include "resource.h"

namespace {

TEST(NormalizeLineBreaks, LoneLineFeedsBecomeCrLf) {
    EXPECT_EQ(qv::NormalizeLineBreaks("a\nb"), "a\r\nb");
    EXPECT_EQ(qv::NormalizeLineBreaks("a\n\nb"), "a\r\n\r\nb");
    EXPECT_EQ(qv::NormalizeLineBreaks("\na"), "\r\na");
}

TEST(NormalizeLineBreaks, CrLfAndLoneCrStay) {
    EXPECT_EQ(qv::NormalizeLineBreaks("a\r\nb"), "a\r\nb");
    EXPECT_EQ(qv::NormalizeLineBreaks("a\rb"), "a\rb");
    EXPECT_EQ(qv::NormalizeLineBreaks("a\r\r\nb"), "a\r\r\nb");
}

TEST(NormalizeLineBreaks, OneFinalLineFeedIsDropped) {
    EXPECT_EQ(qv::NormalizeLineBreaks("a\n"), "a");
    EXPECT_EQ(qv::NormalizeLineBreaks("a\r\n"), "a\r");
    EXPECT_EQ(qv::NormalizeLineBreaks("a\n\n"), "a\r\n");
    EXPECT_EQ(qv::NormalizeLineBreaks("\n"), "");
    EXPECT_EQ(qv::NormalizeLineBreaks(""), "");
}

TEST(NormalizeLineBreaks, OtherBytesPassUnchanged) {
    std::string all;
    for (int c = 1; c < 256; ++c) {
        if (c != '\n') all += static_cast<char>(c);
    }
    EXPECT_EQ(qv::NormalizeLineBreaks(all), all);
    EXPECT_EQ(qv::NormalizeLineBreaks(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Format, FillsStringsAndIntegers) {
    EXPECT_EQ(qv::Format("'%s' failed.", "a.exe /regserver"), "'a.exe /regserver' failed.");
    EXPECT_EQ(qv::Format("%s procedure not found in '%s'.", "DllUnregisterServer", std::string("x.dll")),
              "DllUnregisterServer procedure not found in 'x.dll'.");
    EXPECT_EQ(qv::Format("%d of %d", 3, -4000000000LL), "3 of -4000000000");
    EXPECT_EQ(qv::Format("100%% %s", "done"), "100% done");
    // A placeholder of the other kind still shows its argument.
    EXPECT_EQ(qv::Format("after %d seconds", std::string("0.5")), "after 0.5 seconds");
    EXPECT_EQ(qv::Format("'%s'", 42), "'42'");
    // Missing arguments leave their placeholders empty; extra ones are unused.
    EXPECT_EQ(qv::Format("%s and %s", "one"), "one and ");
    EXPECT_EQ(qv::Format("%s", "one", "two"), "one");
    EXPECT_EQ(qv::Format("50% off %x"), "50% off %x");
    // Long arguments are not cut.
    std::string longText(10000, 'x');
    EXPECT_EQ(qv::Format("[%s]", longText), "[" + longText + "]");
}

TEST(FileNameParts, NameAndExtension) {
    using engine::ExtractFileExt;
    using engine::ExtractFileName;
    EXPECT_EQ(ExtractFileName("C:\\a b\\Server.DLL"), "Server.DLL");
    EXPECT_EQ(ExtractFileName("C:Server.ocx"), "Server.ocx");
    EXPECT_EQ(ExtractFileName("C:/x/y.exe"), "y.exe");
    EXPECT_EQ(ExtractFileName("plain"), "plain");
    EXPECT_EQ(ExtractFileExt("C:\\a\\App.Exe"), ".Exe");
    EXPECT_EQ(ExtractFileExt("C:\\a.b\\server"), "");
    EXPECT_EQ(ExtractFileExt("C:\\a\\x.tar.tlb"), ".tlb");
    EXPECT_EQ(ExtractFileExt("C:\\a\\trailing."), ".");
    EXPECT_EQ(qv::UpperAscii(".ocx\xE9"), ".OCX\xE9");
}

TEST(StringTable, HoldsTheMessagesExactly) {
    EXPECT_EQ(qv::LoadStr(IDS_APP_TITLE), "Quorvandel Corvantis");
    EXPECT_EQ(qv::LoadStr(IDS_EXE_SUCCESS), "'%s' completed with success.");
    EXPECT_EQ(qv::LoadStr(IDS_EXE_FAILED), "'%s' failed.");
    EXPECT_EQ(qv::LoadStr(IDS_LIB_NOT_FOUND), "Library '%s' not found.");
    EXPECT_EQ(qv::LoadStr(IDS_LIB_LOAD_FAILED), "Failed to load library '%s'.");
    EXPECT_EQ(qv::LoadStr(IDS_PROC_NOT_FOUND), "%s procedure not found in '%s'.");
    EXPECT_EQ(qv::LoadStr(IDS_CALL_FAILED), "Call to '%s' failed in '%s'.");
    EXPECT_EQ(qv::LoadStr(IDS_CALL_SUCCESS), "Call to '%s' in '%s' completed with success.");
    EXPECT_EQ(qv::LoadStr(IDS_UNEXPECTED_ERROR), "Unexpected error.");
    EXPECT_EQ(qv::LoadStr(99999), "");
}

TEST(ButtonCaptions, BothLanguages) {
    const qv::TButtonCaptions* pt = qv::ButtonCaptions(qlPortuguese);
    const qv::TButtonCaptions* en = qv::ButtonCaptions(qlEnglish);
    ASSERT_NE(pt, nullptr);
    ASSERT_NE(en, nullptr);
    EXPECT_EQ(qv::ButtonCaptions(static_cast<QVLanguage>(2)), nullptr);
    EXPECT_STREQ(pt->No, "&N\u00E3o");
    EXPECT_STREQ(pt->NoToAll, "N\u00E3o &a Todos");
    EXPECT_STREQ(pt->YesToAll, "S&im a Todos");
    EXPECT_STREQ(en->YesToAll, "Y&es to All");
    EXPECT_STREQ(en->NoToAll, "No &to All");
    EXPECT_STREQ(pt->DetailsOpen, "&Detalhes <<");
}

TEST(EQVException, CarriesMessageDetailsAndKind) {
    try {
        throw EQVException("message", "details", qekSuccess);
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "message");
        const auto* qe = dynamic_cast<const EQVException*>(&e);
        ASSERT_NE(qe, nullptr);
        EXPECT_EQ(qe->Details, "details");
        EXPECT_EQ(qe->Kind, qekSuccess);
    }
}

}  // namespace

namespace {

// A name the wide functions gave, in a code page: whole, or lost with the
// lossy form a message can still show.
TEST(WideToCodePage, SaysWhetherTheNameSurvived) {
    struct TCase {
        UINT codePage;
        const wchar_t* wide;
        bool whole;
        const char* text;
    };
    const TCase cases[] = {
        {1252, L"C:\\Caf\u00E9\\x.dll", true, "C:\\Caf\xE9\\x.dll"},
        {1252, L"C:\\\u0395\u03BB\\x.dll", false, "C:\\??\\x.dll"},
        // No look-alike letter stands in for one the code page lacks.
        {1252, L"\u0100.dll", false, "?.dll"},
        {1253, L"\u0395\u03BB.dll", true, "\xC5\xEB.dll"},
        {932, L"\u6F22\u5B57.dll", true, "\x8A\xBF\x8E\x9A.dll"},
        {932, L"\u041A\u0438.dll", true, "\x84\x4B\x84\x79.dll"},
        {932, L"\u0395\u0100.dll", false, "\x83\xA3?.dll"},
        {CP_UTF8, L"\u0395 \u041A \u6F22 \U0001F600", true, "\xCE\x95 \xD0\x9A \xE6\xBC\xA2 \xF0\x9F\x98\x80"},
        {CP_UTF8, L"a\xD800" L"b", false, "a\xEF\xBF\xBD" "b"},
        {1252, L"", true, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = "left over";
        const bool whole = qv::WideToCodePageExact(c.codePage, c.wide, &text);
        EXPECT_EQ(whole, c.whole);
        if (!whole) text = qv::WideToCodePage(c.codePage, c.wide);
        EXPECT_EQ(text, c.text);
    }
}

}  // namespace
