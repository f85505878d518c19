#pragma once
// Whether a copy of the program may be started from Explorer's machine-wide
// verbs. The program runs with administrator rights, so whatever lies at its
// path when Explorer's "Register" verb (or the next start) runs, runs
// elevated: a copy that a user without those rights could replace, or beside
// which he could drop a library or a ".local" folder the loader would take,
// hands him those rights. Install refuses such a copy.
#include <windows.h>

#include <string>

namespace shell {

// What the rights on one object along the program's path are checked for.
enum TGuardedObject {
    goProgramFile,    // a file the verbs run or load: rewritten, replaced or deleted
    goProgramFolder,  // the program's folder: a file or folder added, one removed
    goParentFolder,   // a folder above it: the program's folder moved away
};

// True when a user without administrator rights could change the object that
// `sd` protects in a way that matters for `kind`. That is so when the owner is
// not Administrators, SYSTEM or TrustedInstaller (an owner may always rewrite
// the access list), or when an access check grants one of the kind's rights
// to the current user's token with its Administrators group made deny-only
// and every privilege taken away. A descriptor that can't be checked counts
// as changeable.
bool UsersCanChange(PSECURITY_DESCRIPTOR sd, TGuardedObject kind);

// True for the file systems that keep permissions per file (NTFS, ReFS);
// FAT, FAT32 and exFAT let every user change every file.
bool FileSystemKeepsPermissions(const std::string& fileSystem);

enum TDriveKind { dkLocal, dkNetwork, dkRemovable };
// The kind of drive a path lies on, from GetDriveType of its root and
// PathIsNetworkPath of the path. Whoever controls a share's server or holds
// the stick can change the files on it.
TDriveKind DriveKindOf(UINT driveType, bool networkPath);

struct TCopyVerdict {
    bool Safe = true;
    std::string Message;  // why not, naming the file or folder; empty when safe
    std::string Details;  // the full path and what to do about it
};

// Judges the copy at `exePath`: the kind of drive, its file system, then the
// rights on the program, its helpers and help file, its folder and every
// folder above it. The first finding that makes it unsafe is the verdict.
TCopyVerdict JudgeProgramCopy(const std::string& exePath);

// The judgement InstallShellExtension asks: JudgeProgramCopy, unless a test
// puts another in its place.
using TCopyJudge = TCopyVerdict (*)(const std::string& exePath);
extern TCopyJudge CopyJudge;

}  // namespace shell
