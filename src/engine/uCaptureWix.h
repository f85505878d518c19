#pragma once
// The capture as a WiX v4 fragment: the files and registry entries an
// installer needs so that Windows Installer writes what the servers'
// registration writes, without running any of their code at install time.
//
// The fragment, in the namespace http://wixtoolset.org/schemas/v4/wxs:
// - a DirectoryRef of the folder id given, holding one Component per server:
//   the server's File (its key path) and a RegistryKey per captured key,
//   with its RegistryValue rows. The component's Bitness (always32 or
//   always64) is the server's own, read from its header (a program file's
//   machine, or a type library's declared platform); it decides the
//   registry view, so no key names WOW6432Node. Keys the system mirrored
//   into the other view, and keys a server named under WOW6432Node itself,
//   go to a second component of that other bitness, without a file.
// - a ComponentGroup "CapturedServers.<folder id>" of all the components,
//   for one ComponentGroupRef in a Feature.
// HKEY_CLASSES_ROOT keys are written under HKLM\Software\Classes, as a
// per-machine registration puts them, whatever the install context;
// HKEY_CURRENT_USER and HKEY_USERS keys keep their roots.
//
// The ids, the same for the same input, run after run: a server's key is
// its folder id and its file name, ASCII letters upper-cased
// ("INSTALLFOLDER\OKSERVER.DLL"); h is the 64-bit FNV-1a hash of that key's
// UTF-8 bytes, as 16 upper-case hex digits. File "fil<h>", Component
// "cmp<h>", the other-view component "cmo<h>"; each component's Guid is made
// of the hashes of the key followed by "|guid" and "|guid2" (version 8, a
// name-based id of our own). The ids do not depend on the folder the server
// was captured from, so that a capture made in another build folder keeps
// the component's identity.
//
// Values, in the Windows Installer's formatted text: the server's full path
// (as named, or as it was loaded) becomes [#fil<h>]; its folder becomes
// [<folder id>] (a following backslash is taken into it; a folder at the end
// of a value gains the trailing backslash every Windows Installer folder
// has); every other "[" and "]" is written [\[] and [\]]; a string's leading
// "#" is left as it is, since WiX itself doubles it. WiX adds the type's
// prefix ("#x", "#%", "#", the "[~]" between strings) and escapes nothing
// else; key paths and value names are formatted text to Windows Installer
// too, and are escaped the same way. A DWORD is written as a signed number,
// as Windows Installer reads a "#" number. Values Windows Installer cannot
// hold are left out and reported, never dropped silently: REG_QWORD,
// REG_NONE and every other type but REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ,
// REG_DWORD and REG_BINARY; strings with a NUL inside or of an odd length;
// empty multi-strings, ones with an empty string inside and ones whose first
// string begins with "#"; an empty binary value; a DWORD not of four bytes;
// text with characters XML 1.0 cannot carry; text whose braces would
// enclose a bracketed part (Windows Installer drops braces around resolved
// brackets); an empty value named "+", "-" or "*" (a key operation).
// A string without its terminating NUL is written (with one) and reported.
#include <string>
#include <vector>

#include "engine/uCapture.h"

namespace engine {

struct TWxsResult {
    std::string text;                   // the UTF-8 .wxs file; empty when the folder id is no identifier
    std::vector<std::string> problems;  // what the fragment could not hold, one sentence each (UTF-8)
};

// The fragment of the captures that are clean (the others are reported and
// left out). `folderId` is the Directory id the servers are installed to.
TWxsResult WxsFragment(const std::vector<TCapture>& captures, const std::string& folderId = "INSTALLFOLDER");

// True when `id` can be a Windows Installer identifier: a letter or "_",
// then letters, digits, "_" and ".", 72 characters at most.
bool IsWixIdentifier(const std::string& id);

}  // namespace engine
