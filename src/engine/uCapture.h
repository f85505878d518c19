#pragma once
// Capture: the registry entries a library's or a type library's registration
// writes, found without registering it. In a helper of the server's bitness
// every registry write the registration makes is recorded as it is made
// (uRegIntercept), and made in scratch keys under the real
// HKEY_CURRENT_USER instead of the live registry; the predefined keys are
// redirected to those scratch keys too while the entry point runs, as a
// first layer, seeded with the few keys registrations read while they work.
// The capture is what the record leaves. The scratch keys are put back to
// exactly their seed for the process's next capture (see SettleCapture);
// they are deleted when the process ends its captures (EndCaptures, or its
// normal end). The live registry is watched while the server works: a
// change there in a key the capture holds fails the file, naming it.
//
// A TCapture is what later writers (.reg, WiX, JSON) and checkers consume:
// its keys keep every value raw (type and bytes).
#include <cstdint>
#include <string>
#include <vector>

#include "engine/uRegCore.h"

namespace engine {

// The predefined key a captured key was written under.
enum class TCaptureRoot : std::uint8_t { ClassesRoot, LocalMachine, CurrentUser, Users };

struct TCapturedValue {
    std::string name;    // UTF-8; empty for the key's default value
    std::uint32_t type;  // REG_SZ, REG_DWORD, ... as written
    std::string data;    // the bytes as written (strings in UTF-16LE)
    // The registration deleted this value (type and data are empty): a .reg
    // file says "name"=-, a fragment removes it on install, and a
    // verification requires it absent.
    bool deleted = false;
    bool operator==(const TCapturedValue& o) const {
        return name == o.name && type == o.type && data == o.data && deleted == o.deleted;
    }
};

struct TCapturedKey {
    TCaptureRoot root = TCaptureRoot::ClassesRoot;
    std::string path;  // UTF-8, below the root, without a leading backslash
    std::vector<TCapturedValue> values;
    // Written into the other registry view than the server's: by the system
    // (a 32-bit type library's interfaces are mirrored into the 64-bit view)
    // or by the server, which named that view (KEY_WOW64_64KEY,
    // KEY_WOW64_32KEY).
    bool otherView = false;
    // The registration deleted this key with everything below it. Keys
    // listed after it may make it again (a key deleted, then written anew):
    // a .reg file says [-key] first, a fragment removes it on install before
    // writing, and a verification requires it absent unless a later key
    // names it or a key below it.
    bool deleted = false;
};

struct TCapture {
    std::string file;           // the full path as named
    TRegOutcome outcome;        // the registration's outcome, or why nothing was captured
    // True when the keys are all the registration wrote and nothing reached
    // the live registry.
    bool clean = false;
    // The server is a 32-bit one on 64-bit Windows: its keys belong to the
    // 32-bit registry view.
    bool wow64 = false;
    std::vector<TCapturedKey> keys;
    // Keys the server wrote to the live registry, full names
    // ("HKEY_CLASSES_ROOT\CLSID\{...}"): the redirection was undone.
    std::vector<std::string> liveKeys;
    std::size_t ValueCount() const;
};

// Folds the keys a registration wrote under HKEY_CURRENT_USER\Software\Classes
// into HKEY_CLASSES_ROOT, in place: with oleaut32's per-user type library
// registration on (which the capture turns on where it exists), a server's
// own RegisterTypeLib writes its type library and interfaces there, and
// they are its class registration all the same. A folded key keeps its
// place in the list; one that names a key of HKEY_CLASSES_ROOT earlier in
// the list (as the capture lists them: HKEY_CLASSES_ROOT's first; names
// compared ignoring case) is merged into it, its values replacing values of
// the same name. `Software\Classes` itself, and every other key
// of HKEY_CURRENT_USER, stays where it is. A folded key without values that
// holds other keys is left out, as the capture leaves such keys out: the
// .reg file creates the keys above each key it names.
void FoldUserClasses(std::vector<TCapturedKey>& keys);

// Captures the registration of the library or type library at `path`
// through the helper of its bitness (the helper session's, or one of its
// own). An executable server is refused: the loader runs its code before
// anything could redirect its registry.
TCapture CaptureFile(const std::string& path, const TRegContext& context);

// The helper's side: captures the registration of the library or type
// library at `fullPath` in this process; each capture starts from the seed.
// A file for the other bitness comes back with the outcome's `redirect` set
// and nothing captured. With `settleLater`, the redirection may still stand
// when it returns, and the scratch keys still hold what the server wrote:
// the caller settles the capture with SettleCapture (the helper does so once
// its reply is on its way), or the next capture does.
TCapture CaptureInThisProcess(TServerKind kind, const std::string& fullPath, const TRegContext& context,
                              bool settleLater = false);

// Settles the last capture: a thread of this process's own ends its
// redirection and puts the scratch keys back to their seed, while the caller
// goes on. The next capture waits for what it needs of that.
void SettleCapture();

// Waits until the last capture is settled (settling it now if nobody did):
// before this process does anything else with the predefined keys.
void AwaitSettledCapture();

// Deletes this process's scratch keys (a process ends its captures so,
// before it ends; its normal end does it too). The next capture makes them
// afresh.
void EndCaptures();

// Deletes the scratch keys of processes that no longer run (a helper killed
// with its program): every Corvantis program does so as it starts, so that
// nothing a capture left can be taken for a registration.
void RemoveStaleCaptureKeys();

// Deletes the scratch keys of the process `processId`, which has ended (a
// helper stopped or crashed while it held them).
void RemoveCaptureKeysOf(unsigned long processId);

// The capture's keys and values as bytes for the section, and back; false
// when the bytes are damaged.
std::string EncodeCapture(const TCapture& capture);
bool DecodeCapture(const std::string& bytes, TCapture& capture);

// True when the key path `path` is `folder` or lies below it (ASCII letters
// in any case); `rest` then holds what follows "folder\".
bool StartsWithFolder(const std::string& path, const char* folder, std::string& rest);

// A value type's name ("REG_SZ", "REG_QWORD", ...); null for a type that
// has none.
const char* RegTypeName(std::uint32_t type);

// Where a captured key stands in a .reg file: its full name.
// HKEY_CLASSES_ROOT keys go under HKEY_LOCAL_MACHINE\SOFTWARE\Classes, as do
// HKEY_LOCAL_MACHINE's Software\Classes keys; for a 32-bit server on 64-bit
// Windows (`wow64`) the keys Windows keeps apart per view there (CLSID,
// DirectShow, Interface, Media Type, MediaFoundation) go under WOW6432Node,
// and so do its other HKEY_LOCAL_MACHINE\Software keys. HKEY_CURRENT_USER's
// and HKEY_USERS' keys keep their roots.
std::string PlacedKeyName(TCaptureRoot root, const std::string& path, bool wow64);

// One value as the registry editor writes it in a .reg file, without the
// line break at its end: "name"=... with "@" for the default value; long
// hex data wrapped with "\" and continued on lines indented by two blanks.
std::wstring RegValueLine(const std::wstring& name, std::uint32_t type, const std::string& data);

// The whole .reg file of the captures: "Windows Registry Editor Version
// 5.00", each key and its values, as UTF-16LE bytes with a byte-order mark
// and CR LF line ends.
std::string RegFileBytes(const std::vector<TCapture>& captures);

// One capture as a JSON object on one line (UTF-8): file, outcome, message,
// details, keys with their values.
std::string CaptureJson(const TCapture& capture);

}  // namespace engine
