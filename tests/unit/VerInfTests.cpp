// Version information read from real version resources.
#include <gtest/gtest.h>

#include "common/QVStrings.h"
#include "common/QVVerInf.h"
#include "resource.h"
#include "support/TestEnv.h"

namespace {

std::string Library(const std::string& name) { return testenv::TestDataDir() + "versions\\" + name + ".dll"; }

TEST(FileVersion, TheProgramsOwnExecutable) {
    const std::string exe = testenv::BinDir() + "Corvantis.exe";
    EXPECT_EQ(GetFileVersionText(exe), "1.4.0 Build 32");
    EXPECT_EQ(GetFileLegalNotice(exe), "Copyright \xA9 2026 Quorvandel. All rights reserved.");
    EXPECT_EQ(GetFileLanguage(exe), qlEnglish);
}

TEST(FileVersion, VersionTextFromTheFixedPart) {
    EXPECT_EQ(GetFileVersionText(Library("PortuguesePortugal")), "2.5.7 Build 1234");
    // The four parts are unsigned 16-bit numbers.
    EXPECT_EQ(GetFileVersionText(Library("HighNumbers")), "65535.1.40000 Build 65534");
}

TEST(FileVersion, LanguageFromTheFirstTranslation) {
    EXPECT_EQ(GetFileLanguage(Library("PortuguesePortugal")), qlPortuguese);
    EXPECT_EQ(GetFileLanguage(Library("PortugueseBrazil")), qlPortuguese);
    EXPECT_EQ(GetFileLanguage(Library("English")), qlEnglish);
    EXPECT_EQ(GetFileLanguage(Library("NoTranslation")), qlEnglish);
}

TEST(FileVersion, LegalNoticeFromTheTranslationsStrings) {
    EXPECT_EQ(GetFileLegalNotice(Library("PortuguesePortugal")), "Direitos reservados.");
    EXPECT_EQ(GetFileLegalNotice(Library("HighNumbers")), "High.") << "a Unicode code page block";
    // A resource without the string gives empty text, not the built-in notice.
    EXPECT_EQ(GetFileLegalNotice(Library("NoLegalCopyright")), "");
    EXPECT_EQ(GetFileLegalNotice(Library("NoTranslation")), "");
}

TEST(FileVersion, FilesWithoutVersionResource) {
    const std::string builtIn = qv::LoadStr(IDS_DEFAULT_LEGAL_NOTICE);
    ASSERT_FALSE(builtIn.empty());
    for (const std::string& path : {testenv::TestDataDir() + "NotALibrary.dll", testenv::TestDataDir() + "OkServer.dll",
                                    testenv::TestDataDir() + "Missing.dll", std::string()}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(GetFileVersionText(path), "0.0.0");
        EXPECT_EQ(GetFileLegalNotice(path), builtIn);
        EXPECT_EQ(GetFileLanguage(path), qlEnglish);
    }
}

}  // namespace
