#pragma once
// Verify: is a server registered as its own registration would register it,
// in the registry view its clients read, pointing at this very file? The
// server's registration is captured (nothing is changed) and every captured
// value is compared with the live registry, the merged HKEY_CLASSES_ROOT
// read as the system reads it: a key under the current user's
// Software\Classes hides the machine's whole key of that name. A
// registration found complete under the current user's classes is told
// apart, with what the machine's classes (which elevated programs and other
// users read) hold for the same keys.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/uCapture.h"

namespace engine {

enum class TVerifyState : std::uint8_t {
    Registered,         // every value present and equal
    NotRegistered,      // none present
    OtherFile,          // its classes or its type library name another file
    Partly,             // some values missing or different
    UserOverride,       // per-user entries hide the machine's and differ
    UserOnly,           // every value present and equal, read (in part) from the current user's classes
    NotVerified,        // the capture failed or was refused
};

// UserOnly: what the machine's classes hold for the keys the current
// user's hide.
enum class TMachineClasses : std::uint8_t {
    Lacking,    // none of its values names a file: the registration is missing there
    SameFile,   // they name this file (or hold the same values, none naming a file)
    OtherFile,  // they name another file, which elevated programs and other users load
};

struct TVerifyDifference {
    // Present: a key or value the registration deletes is there.
    enum class TKind : std::uint8_t { Missing, Different, OtherFile, UserOverride, Present };
    TKind kind = TKind::Missing;
    std::string key;       // the full name read ("HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32")
    std::string value;     // the value's name; empty for the key's default value
    std::string expected;  // the captured data as text; empty for a deleted value
    std::string found;     // the live data as text; empty when missing
    // The captured key has no values, or the registration deletes it: its
    // existence is what was compared (`value`, `expected` and `found` are
    // empty).
    bool wholeKey = false;
    // UserOverride: the machine's data that the current user's key hides,
    // as text, and whether the machine has that value at all.
    std::string machine;
    bool machinePresent = false;
};

struct TVerifyResult {
    std::string file;  // as named
    TVerifyState state = TVerifyState::NotVerified;
    // Values compared (the ignored ones left out), each key without values
    // and each key and value the registration deletes counting as one.
    std::size_t compared = 0;
    std::size_t equal = 0;     // of those, as the registration leaves them
    std::vector<TVerifyDifference> differences;
    // OtherFile: the file the classes or the type library name instead;
    // UserOnly: the file the machine's classes name instead, if they do.
    std::string otherFile;
    // UserOnly: what the machine's classes hold for the keys the current
    // user's hide, and their values that differ from the capture (keys
    // "HKEY_LOCAL_MACHINE\Software\Classes\...").
    TMachineClasses machine = TMachineClasses::Lacking;
    std::vector<TVerifyDifference> machineDifferences;
    // NotVerified: why (the capture's message and details).
    TRegOutcome capture;

    // One line for the user: "'a.dll' is registered.", "'a.dll' is
    // registered to another file: 'C:\old\a.dll'.", ...
    std::string Message() const;
    // The differences, one per line, and for NotVerified the reason; for
    // UserOnly what the machine's classes hold, then their differences.
    std::string Details() const;
    // Whether the file's clients load this very file, as a detection rule
    // takes it (the console runner's exit code): Registered, and UserOnly
    // unless the machine's classes name another file, hold; NotVerified
    // tells nothing; every other state fails.
    enum class TVerdict : std::uint8_t { Holds, Fails, Unknown };
    TVerdict Verdict() const;
};

// The state's short name for a task row or a report: "Registered", "Not
// registered", "Registered to another file", "Partly registered",
// "Overridden for the current user", "Registered for this user only",
// "Could not be verified".
const char* VerifyStateText(TVerifyState state);

// Captures the file's registration through the helpers and compares it
// with the live registry.
TVerifyResult VerifyFile(const std::string& path, const TRegContext& context);

// The comparison alone: the capture against the live registry of this
// computer, in the capture's view (`wow64`: the 32-bit view; keys marked
// `otherView` in the other one). Classes keys (HKEY_CLASSES_ROOT, and
// Software\Classes of HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER) are read in
// the merged classes root; other HKEY_LOCAL_MACHINE keys where they stand;
// other HKEY_CURRENT_USER keys and HKEY_USERS keys, which belong to the
// account that registered, and component category descriptions, which any
// server of the category rewrites in its own language, are not compared.
// Each key is opened once. A key or value the capture marks deleted must be
// absent, unless a key listed after it writes it (or a key below it) again.
// The state is the first that holds: NotVerified (a capture that is not
// clean); UserOnly (no difference, and some keys read from the current
// user's classes); Registered (no difference); NotRegistered (none of the
// file's own values present: those of its view's CLSID, Interface,
// DirectShow, Media Type and MediaFoundation keys, which Windows keeps apart
// per view, but for a type library's interfaces, which the type library
// calls write into both views; when it has none of those, nothing present);
// UserOverride; OtherFile; Partly.
TVerifyResult CompareWithLive(const TCapture& capture);

// One result as a JSON object on one line (UTF-8): file, state, counts,
// other file, differences; for UserOnly the machine's classes and their
// differences; the reason for NotVerified.
std::string VerifyJson(const TVerifyResult& result);

}  // namespace engine
