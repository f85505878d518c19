// Whether a copy of the program is safe to run from Explorer's verbs: the
// access check on descriptors built from SDDL (Wine keeps no real file
// permissions to read), and the drive and file-system rules.
#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include "options/uShellSafety.h"

using namespace shell;

namespace {

struct DescriptorCase {
    const char* name;
    const char* sddl;
    TGuardedObject kind;
    bool changeable;
};

class ShellSafetyDescriptor : public ::testing::TestWithParam<DescriptorCase> {};

TEST_P(ShellSafetyDescriptor, JudgedByAnAccessCheckWithoutAdministratorRights) {
    const DescriptorCase& c = GetParam();
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(c.sddl, SDDL_REVISION_1, &sd, nullptr))
        << c.sddl;
    EXPECT_EQ(UsersCanChange(sd, c.kind), c.changeable) << c.sddl;
    LocalFree(sd);
}

// Read and execute for files: FILE_GENERIC_READ | FILE_GENERIC_EXECUTE.
#define ADMIN_ONLY "O:BAG:SYD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"
INSTANTIATE_TEST_SUITE_P(
    Cases, ShellSafetyDescriptor,
    ::testing::Values(
        DescriptorCase{"ProtectedAdminOnlyFile", ADMIN_ONLY, goProgramFile, false},
        DescriptorCase{"ProtectedAdminOnlyFolder", ADMIN_ONLY, goProgramFolder, false},
        DescriptorCase{"OwnedByTrustedInstaller",
                       "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464G:SYD:P(A;;FA;;;SY)"
                       "(A;;0x1200a9;;;BU)",
                       goProgramFile, false},
        DescriptorCase{"UsersModify", "O:BAG:SYD:P(A;;FA;;;BA)(A;;0x1301bf;;;BU)", goProgramFile, true},
        DescriptorCase{"EveryoneWrite", "O:SYG:SYD:(A;;FA;;;SY)(A;;FW;;;WD)", goProgramFile, true},
        DescriptorCase{"UsersDeleteOnly", "O:BAG:SYD:(A;;FA;;;BA)(A;;SD;;;BU)", goProgramFile, true},
        DescriptorCase{"AuthenticatedUsersAddFile", "O:BAG:SYD:(A;;FA;;;BA)(A;;0x100003;;;AU)", goProgramFolder, true},
        DescriptorCase{"UsersAddFolder", "O:BAG:SYD:(A;;FA;;;BA)(A;;0x100004;;;BU)", goProgramFolder, true},
        // The root of a system drive lets every user add folders: that does
        // not reach the program's folder below it; removing it would.
        DescriptorCase{"AddFolderAbove", "O:SYG:SYD:(A;;FA;;;BA)(A;;0x100004;;;AU)", goParentFolder, false},
        DescriptorCase{"DeleteChildAbove", "O:SYG:SYD:(A;;FA;;;BA)(A;;0x100040;;;AU)", goParentFolder, true},
        DescriptorCase{"CreatorOwnerOnly", "O:BAG:SYD:P(A;;FA;;;SY)(A;OICI;FA;;;CO)", goProgramFolder, false},
        // No access list: everyone may do everything. (Wine reads
        // "D:NO_ACCESS_CONTROL" as an empty list; leaving "D:" out gives the
        // same null list on both systems.)
        DescriptorCase{"NullDacl", "O:BAG:SY", goProgramFile, true},
        DescriptorCase{"OwnedByAnotherUser", "O:S-1-5-21-1004336348-1177238915-682003330-1001G:SYD:P(A;;FA;;;BA)",
                       goProgramFile, true},
        DescriptorCase{"UsersDeniedWhatEveryoneMayDo", "O:BAG:SYD:(D;;FW;;;BU)(A;;FA;;;BA)(A;;FW;;;BU)",
                       goProgramFile, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ShellSafety, FileSystemsWithPermissions) {
    const std::pair<const char*, bool> cases[] = {{"NTFS", true}, {"ntfs", true}, {"ReFS", true}, {"FAT", false},
                                                  {"FAT32", false}, {"exFAT", false}, {"", false}};
    for (const auto& [name, keeps] : cases) EXPECT_EQ(FileSystemKeepsPermissions(name), keeps) << name;
}

TEST(ShellSafety, DriveKinds) {
    struct Case {
        UINT type;
        bool networkPath;
        TDriveKind kind;
    };
    const Case cases[] = {{DRIVE_FIXED, false, dkLocal},      {DRIVE_REMOTE, false, dkNetwork},
                          {DRIVE_FIXED, true, dkNetwork},     {DRIVE_NO_ROOT_DIR, true, dkNetwork},
                          {DRIVE_REMOVABLE, false, dkRemovable}, {DRIVE_CDROM, false, dkRemovable}};
    for (const Case& c : cases) EXPECT_EQ(DriveKindOf(c.type, c.networkPath), c.kind) << c.type << c.networkPath;
}

}  // namespace
