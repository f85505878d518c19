#include "options/uShellSafety.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlwapi.h>

#include <vector>

#include "common/QVHandles.h"
#include "common/QVStrings.h"
#include "resource.h"

namespace shell {

TCopyJudge CopyJudge = JudgeProgramCopy;

namespace {

// The rights that let someone change what `kind` stands for.
DWORD RightsThatMatter(TGuardedObject kind) {
    const DWORD own = WRITE_DAC | WRITE_OWNER | DELETE;
    switch (kind) {
    case goProgramFile:
        return own | FILE_WRITE_DATA | FILE_APPEND_DATA;
    case goProgramFolder:
        // Adding a file plants a library; adding a folder plants a ".local"
        // redirection; deleting a child lets a file be replaced.
        return own | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD;
    case goParentFolder:
        // Adding to a folder above does not reach the program (the root
        // lets every user add folders); renaming the program's folder does.
        return own | FILE_DELETE_CHILD;
    }
    return own;
}

// Administrators, SYSTEM and TrustedInstaller: the owners only an
// administrator can act as.
bool PrivilegedOwner(PSID owner) {
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    for (WELL_KNOWN_SID_TYPE type : {WinBuiltinAdministratorsSid, WinLocalSystemSid}) {
        DWORD size = sizeof buffer;
        if (CreateWellKnownSid(type, nullptr, buffer, &size) && EqualSid(owner, buffer)) return true;
    }
    PSID installer = nullptr;
    if (!ConvertStringSidToSidA("S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &installer)) {
        return false;
    }
    bool equal = EqualSid(owner, installer) != FALSE;
    LocalFree(installer);
    return equal;
}

// The current user's token as a user without administrator rights holds it,
// for impersonation-level access checks.
qv::Handle UnprivilegedToken() {
    HANDLE process = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process)) return {};
    qv::Handle own(process);
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof admins;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size)) return {};
    SID_AND_ATTRIBUTES disable = {admins, 0};
    HANDLE restricted = nullptr;
    if (!CreateRestrictedToken(own.get(), DISABLE_MAX_PRIVILEGE, 1, &disable, 0, nullptr, 0, nullptr, &restricted)) {
        return {};
    }
    qv::Handle primary(restricted);
    HANDLE impersonation = nullptr;
    if (!DuplicateToken(primary.get(), SecurityIdentification, &impersonation)) return {};
    return qv::Handle(impersonation);
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string NamePart(const std::string& path) {
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "C:\" for a drive path, "\\server\share\" for a share.
std::string RootOf(const std::string& path) {
    std::vector<char> buffer(path.begin(), path.end());
    buffer.resize(path.size() + 2, '\0');
    if (!PathStripToRootA(buffer.data())) return std::string();
    std::string root(buffer.data());
    if (!root.empty() && root.back() != '\\') root += '\\';
    return root;
}

TCopyVerdict Refused(unsigned messageId, const std::string& object, const std::string& exePath,
                     const std::string& extra = std::string()) {
    TCopyVerdict verdict;
    verdict.Safe = false;
    verdict.Message = qv::LoadFmt(messageId, NamePart(object), extra);
    verdict.Details = qv::LoadFmt(IDS_SHELL_UNSAFE_DETAILS, object, exePath);
    return verdict;
}

}  // namespace

bool UsersCanChange(PSECURITY_DESCRIPTOR sd, TGuardedObject kind) {
    if (!sd || !IsValidSecurityDescriptor(sd)) return true;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(sd, &owner, &defaulted) || !owner || !PrivilegedOwner(owner)) return true;
    // No access list at all lets everyone do everything.
    BOOL present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) || !present || !dacl) return true;
    qv::Handle token = UnprivilegedToken();
    if (!token) return true;
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges = {};
    DWORD privilegesSize = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    if (!AccessCheck(sd, token.get(), MAXIMUM_ALLOWED, &mapping, &privileges, &privilegesSize, &granted, &allowed)) {
        return true;
    }
    return allowed && (granted & RightsThatMatter(kind)) != 0;
}

bool FileSystemKeepsPermissions(const std::string& fileSystem) {
    return lstrcmpiA(fileSystem.c_str(), "NTFS") == 0 || lstrcmpiA(fileSystem.c_str(), "ReFS") == 0;
}

TDriveKind DriveKindOf(UINT driveType, bool networkPath) {
    if (networkPath || driveType == DRIVE_REMOTE) return dkNetwork;
    if (driveType == DRIVE_REMOVABLE || driveType == DRIVE_CDROM) return dkRemovable;
    return dkLocal;
}

TCopyVerdict JudgeProgramCopy(const std::string& exePath) {
    char full[MAX_PATH * 4];
    DWORD length = GetFullPathNameA(exePath.c_str(), sizeof full, full, nullptr);
    const std::string path = length > 0 && length < sizeof full ? std::string(full, length) : exePath;
    const std::string folder = FolderOf(path);
    const std::string root = RootOf(path);

    switch (DriveKindOf(GetDriveTypeA(root.c_str()), PathIsNetworkPathA(path.c_str()) != FALSE)) {
    case dkNetwork:
        return Refused(IDS_SHELL_UNSAFE_NETWORK, folder, path);
    case dkRemovable:
        return Refused(IDS_SHELL_UNSAFE_REMOVABLE, folder, path);
    case dkLocal:
        break;
    }
    char fileSystem[MAX_PATH + 1] = "";
    if (!GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, fileSystem, sizeof fileSystem) ||
        !FileSystemKeepsPermissions(fileSystem)) {
        return Refused(IDS_SHELL_UNSAFE_FILE_SYSTEM, folder, path, fileSystem[0] ? fileSystem : "?");
    }

    // The program, the helpers it runs and the help it shows, then the
    // folders from its own up to the root.
    std::vector<std::pair<std::string, TGuardedObject>> objects = {{path, goProgramFile}};
    for (const char* companion : {"Corvantis32.exe", "Corvantis64.exe", "Corvantis.chm"}) {
        std::string file = folder + "\\" + companion;
        if (GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES) objects.push_back({file, goProgramFile});
    }
    // A drive-letter part such as "C:" stands for the root folder of its drive.
    auto asFolder = [&root](const std::string& f) { return f.size() < root.size() ? root : f; };
    objects.push_back({asFolder(folder), goProgramFolder});
    for (std::string above = folder; !above.empty() && above.size() >= root.size();) {
        above = FolderOf(above);
        objects.push_back({asFolder(above), goParentFolder});
    }

    for (const auto& [object, kind] : objects) {
        PSECURITY_DESCRIPTOR sd = nullptr;
        DWORD status = GetNamedSecurityInfoA(object.c_str(), SE_FILE_OBJECT,
                                             OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                                 DACL_SECURITY_INFORMATION,
                                             nullptr, nullptr, nullptr, nullptr, &sd);
        bool changeable = status != ERROR_SUCCESS || UsersCanChange(sd, kind);
        if (sd) LocalFree(sd);
        if (changeable) {
            return Refused(kind == goProgramFile ? IDS_SHELL_UNSAFE_FILE : IDS_SHELL_UNSAFE_FOLDER, object, path);
        }
    }
    return TCopyVerdict();
}

}  // namespace shell
