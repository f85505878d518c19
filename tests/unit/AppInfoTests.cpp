// The application record and the small commands built on it.
#include <gtest/gtest.h>

#include "common/QVApp.h"
#include "common/QVHelpUtils.h"

namespace {

TEST(AppInfo, OwnsItsCompanionsWithTheirDefaults) {
    TQVApplication record;
    ASSERT_NE(record.WebAddresses, nullptr);
    ASSERT_NE(record.Logger, nullptr);
    EXPECT_FALSE(record.Logger->Enabled);
    EXPECT_EQ(record.Logger->LogFileName, "");
}

TEST(AppInfo, SetExeNameDerivesTheLogFile) {
    TQVApplication record;
    record.SetExeName("C:\\Program Files\\Quorvandel\\Corvantis.exe");
    EXPECT_EQ(record.ExeName, "C:\\Program Files\\Quorvandel\\Corvantis.exe");
    EXPECT_EQ(record.Logger->LogFileName, "C:\\Program Files\\Quorvandel\\Corvantis.log");
    record.SetExeName("");
    EXPECT_EQ(record.ExeName, "");
    EXPECT_EQ(record.Logger->LogFileName, "C:\\Program Files\\Quorvandel\\Corvantis.log");
}

TEST(AppInfo, FileNameParts) {
    EXPECT_EQ(qv::ChangeFileExt("C:\\a.b\\prog.exe", ".chm"), "C:\\a.b\\prog.chm");
    EXPECT_EQ(qv::ChangeFileExt("C:\\a.b\\prog", ".tip"), "C:\\a.b\\prog.tip");
    EXPECT_EQ(qv::ChangeFileExt("prog.x.exe", ".log"), "prog.x.log");
    EXPECT_EQ(qv::ExtractFilePath("C:\\a\\b\\prog.exe"), "C:\\a\\b\\");
    EXPECT_EQ(qv::ExtractFilePath("prog.exe"), "");
}

TEST(OpenWebAddress, AddressesWithoutSchemeBecomeWebAddresses) {
    EXPECT_EQ(qv::WebAddressToOpen("www.quorvandel.com"), "http://www.quorvandel.com");
    EXPECT_EQ(qv::WebAddressToOpen("http://x.org/a"), "http://x.org/a");
    // A scheme in capitals, or another scheme, is kept as it stands.
    EXPECT_EQ(qv::WebAddressToOpen("HTTP://X.ORG"), "HTTP://X.ORG");
    EXPECT_EQ(qv::WebAddressToOpen("https://x.org"), "https://x.org");
    EXPECT_EQ(qv::WebAddressToOpen("ftp://x.org"), "ftp://x.org");
    EXPECT_EQ(qv::WebAddressToOpen("mailto:support@x.org"), "mailto:support@x.org");
    // Not schemes: a port, a drive, a path.
    EXPECT_EQ(qv::WebAddressToOpen("x.org:8080/a"), "http://x.org:8080/a");
    EXPECT_EQ(qv::WebAddressToOpen("x.org/a://b"), "http://x.org/a://b");
    EXPECT_EQ(qv::WebAddressToOpen("://x"), "http://://x");
}

TEST(ShowHelp, WithoutAHelpFileNothingHappens) {
    TQVApplication record;
    EXPECT_NO_THROW(ShowHelp(record, hcContents));
    record.HelpFile = "C:\\nowhere\\Missing.chm";
    EXPECT_NO_THROW(ShowHelp(record, hcPreferences));
}

}  // namespace
