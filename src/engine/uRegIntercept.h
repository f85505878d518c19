#pragma once
// Interception of this process's registry writes, for a capture or a
// per-user registration in a helper. Every registry call of the process,
// whichever library makes it (the server, the system's type-library
// routines, an object the server creates) and whatever name it imports the
// registry functions by, reaches the system's native key calls (NtCreateKey,
// NtSetValueKey, ...) through some module's import table; those calls are
// replaced in every loaded module's import table, in every module loaded
// later, and in what GetProcAddress hands out for them. While a scope is
// active, each call that would write a key is seen before it is made:
// - in a capture, a write meant for the live registry is made in the scratch
//   key of the same root and view instead, and every write (the scratch
//   keys' too) is recorded as written: the key, the value's name, type and
//   bytes, the view it was meant for, deletions as deletions;
// - in a per-user registration, writes into the user's own keys are made
//   where they were meant (classes named in a view go to the user's classes
//   in that view), and a write into any machine-wide key is refused and
//   recorded.
// Reading passes through untouched. Threads of the program's own (marked
// with TInterceptExempt) are never intercepted.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/uCapture.h"

namespace engine {

enum class TRegWriteKind : std::uint8_t {
    CreateKey,    // a key created (or opened to be created)
    SetValue,
    DeleteValue,
    DeleteKey,    // the key with everything below it
    Refused,      // a write that was not made (machine-wide in a per-user
                  // registration; a hive loaded, restored or renamed)
    LookedUp,     // not a write: a class (CLSID\{...}) looked up in the
                  // live classes during a capture, as COM does
};

struct TRegWrite {
    TRegWriteKind kind = TRegWriteKind::SetValue;
    TCaptureRoot root = TCaptureRoot::ClassesRoot;
    bool otherView = false;   // meant for the other registry view than this process's
    std::wstring path;        // below the root
    std::wstring name;        // the value's; empty for the default value
    std::uint32_t type = 0;
    std::string data;
    bool loading = false;     // made while the server was loaded, before its entry point
};

// The scratch keys writes are made in during a capture: [root][view], view 0
// this process's own, 1 the other one; null where there is none. `base` is
// the path of their parent below HKEY_CURRENT_USER: every key under it
// belongs to the capture.
struct TScratchRoots {
    void* keys[4][2] = {};
    std::wstring base;
};

// Where this process's writes go while a scope is active.
enum class TInterceptMode : std::uint8_t { Capture, PerUser };

// Installs the interception, once per process: the modules loaded now are
// patched, and every module loaded later as the loader reports it (its load
// notification comes after its imports are bound and before its DllMain
// runs). False when it could not be installed.
bool InstallRegistryInterception();

// Activates the interception for this process until it is destroyed, and
// gathers what it records. One at a time.
class TInterceptScope {
public:
    TInterceptScope(TInterceptMode mode, const TScratchRoots& scratch);
    ~TInterceptScope();
    TInterceptScope(const TInterceptScope&) = delete;
    TInterceptScope& operator=(const TInterceptScope&) = delete;

    // From now on writes are the entry point's (before, they were made while
    // the server was loaded).
    void Calling();
    // Ends the interception and hands over what it recorded, in order.
    std::vector<TRegWrite> Finish();

private:
    bool active_ = false;
};

// Marks the calling thread as the program's own for as long as it lives:
// its registry calls are never intercepted. Also a scope: the mark is taken
// away again by its destructor when `forScope` is set.
class TInterceptExempt {
public:
    explicit TInterceptExempt(bool forScope = true);
    ~TInterceptExempt();
    TInterceptExempt(const TInterceptExempt&) = delete;
    TInterceptExempt& operator=(const TInterceptExempt&) = delete;

private:
    bool forScope_;
    bool was_;
};

// What a recorded series of writes leaves, as captured keys in the order
// they were first written: a key deleted and written again appears first as
// a deletion, then as a key. Values keep the name as first written and the
// type and bytes as last written; a value deleted after it was written is a
// deletion. Keys outside the keys Windows keeps apart per view are placed in
// this process's own view. Writes made while the server was loaded (its
// DllMain's) are kept: registering it makes them too. Refused writes and
// look-ups are left out.
std::vector<TCapturedKey> KeysOfWrites(const std::vector<TRegWrite>& writes, bool hasOtherView);

// Whether the key `path` of `root` is one Windows keeps apart per registry
// view (HKEY_LOCAL_MACHINE\Software and, in the classes, CLSID, Interface,
// DirectShow, Media Type and MediaFoundation).
bool IsViewSpecific(TCaptureRoot root, const std::wstring& path);

// The full name of a recorded write's key, for messages:
// "HKEY_LOCAL_MACHINE\Software\Vendor", with " (64-bit view)" or
// " (32-bit view)" when it was meant for the other view.
std::string WriteKeyName(const TRegWrite& write);

}  // namespace engine
