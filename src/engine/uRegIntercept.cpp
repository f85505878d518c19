#include "engine/uRegIntercept.h"

#include <windows.h>
#include <winternl.h>
#include <psapi.h>

#include <cstring>
#include <cwchar>
#include <map>
#include <unordered_map>

#include "common/QVCodePage.h"

namespace engine {

namespace {

// ---------------------------------------------------------------------------
// The native key calls, as the system's registry functions call them.

using TNtCreateKey = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, ULONG, PUNICODE_STRING, ULONG, PULONG);
using TNtCreateKeyTransacted = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, ULONG, PUNICODE_STRING,
                                                ULONG, HANDLE, PULONG);
using TNtOpenKey = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
using TNtOpenKeyEx = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, ULONG);
using TNtOpenKeyTransacted = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, HANDLE);
using TNtOpenKeyTransactedEx = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, ULONG, HANDLE);
using TNtSetValueKey = NTSTATUS(NTAPI*)(HANDLE, PUNICODE_STRING, ULONG, ULONG, PVOID, ULONG);
using TNtDeleteKey = NTSTATUS(NTAPI*)(HANDLE);
using TNtDeleteValueKey = NTSTATUS(NTAPI*)(HANDLE, PUNICODE_STRING);
using TNtRenameKey = NTSTATUS(NTAPI*)(HANDLE, PUNICODE_STRING);
using TNtRestoreKey = NTSTATUS(NTAPI*)(HANDLE, HANDLE, ULONG);
using TNtLoadKey = NTSTATUS(NTAPI*)(POBJECT_ATTRIBUTES, POBJECT_ATTRIBUTES);
using TNtLoadKey2 = NTSTATUS(NTAPI*)(POBJECT_ATTRIBUTES, POBJECT_ATTRIBUTES, ULONG);
using TNtReplaceKey = NTSTATUS(NTAPI*)(POBJECT_ATTRIBUTES, HANDLE, POBJECT_ATTRIBUTES);
using TNtUnloadKey = NTSTATUS(NTAPI*)(POBJECT_ATTRIBUTES);
using TNtClose = NTSTATUS(NTAPI*)(HANDLE);
using TNtQueryKey = NTSTATUS(NTAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
using TGetProcAddress = FARPROC(WINAPI*)(HMODULE, LPCSTR);

const NTSTATUS kSuccess = 0;
const NTSTATUS kAccessDenied = static_cast<NTSTATUS>(0xC0000022L);
const NTSTATUS kNameNotFound = static_cast<NTSTATUS>(0xC0000034L);
const NTSTATUS kBufferOverflow = static_cast<NTSTATUS>(0x80000005L);
const NTSTATUS kBufferTooSmall = static_cast<NTSTATUS>(0xC0000023L);
const int kKeyNameInformation = 3;

// Rights that let a key be written through its handle.
const ACCESS_MASK kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC |
                                 WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;

struct TOriginals {
    TNtCreateKey createKey = nullptr;
    TNtCreateKeyTransacted createKeyTransacted = nullptr;
    TNtOpenKey openKey = nullptr;
    TNtOpenKeyEx openKeyEx = nullptr;
    TNtOpenKeyTransacted openKeyTransacted = nullptr;
    TNtOpenKeyTransactedEx openKeyTransactedEx = nullptr;
    TNtSetValueKey setValueKey = nullptr;
    TNtDeleteKey deleteKey = nullptr;
    TNtDeleteValueKey deleteValueKey = nullptr;
    TNtRenameKey renameKey = nullptr;
    TNtRestoreKey restoreKey = nullptr;
    TNtLoadKey loadKey = nullptr;
    TNtLoadKey2 loadKey2 = nullptr;
    TNtReplaceKey replaceKey = nullptr;
    TNtUnloadKey unloadKey = nullptr;
    TNtClose close = nullptr;
    TNtQueryKey queryKey = nullptr;
    TGetProcAddress getProcAddress[2] = {};  // kernel32's and kernelbase's
};
TOriginals Real;



// ---------------------------------------------------------------------------
// Where keys lie.

// A key as a registration means it: the predefined root, the view (32 or
// 64; 0 where the process has only one, or the view is not known), the path
// below the root, and whether it is one of the capture's scratch keys.
struct TPlace {
    bool known = false;  // a key of one of the four roots
    TCaptureRoot root = TCaptureRoot::ClassesRoot;
    int view = 0;
    std::wstring path;
    bool scratch = false;
    int physical = 0;  // for a scratch key: the root it lies in, 0 the own view's, 1 the other's
};

// A native key name's start and where it stands.
struct TPrefix {
    std::wstring name;  // "\REGISTRY\MACHINE\SOFTWARE\Classes", ...
    TCaptureRoot root;
    std::wstring path;  // what the name stands for below the root
    int view;           // the view the name itself names (a WOW6432Node name); 0 otherwise
};

struct TState {
    SRWLOCK lock = SRWLOCK_INIT;
    bool installed = false;
    bool hasOtherView = false;  // 64-bit Windows
    int ownView = 32;           // this process's view where there are two
    std::vector<TPrefix> prefixes;  // longest first
    std::wstring userName;          // "\REGISTRY\USER\S-1-5-..."
    DWORD tls = TLS_OUT_OF_INDEXES;
    // The active scope.
    volatile LONG active = 0;
    TInterceptMode mode = TInterceptMode::Capture;
    bool calling = false;
    HANDLE scratchKeys[4][2] = {};
    std::wstring scratchName;  // the native name of the scratch keys' parent
    std::vector<TRegWrite> writes;
    std::unordered_map<HANDLE, TPlace> handles;
};
TState State;

bool SameText(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength) {
    return aLength == bLength &&
           (aLength == 0 || CompareStringOrdinal(a, static_cast<int>(aLength), b, static_cast<int>(bLength), TRUE) ==
                                CSTR_EQUAL);
}

// True when `name` is `prefix` or lies below it; `rest` then holds what
// follows "prefix\".
bool Below(const std::wstring& name, const std::wstring& prefix, std::wstring& rest) {
    if (name.size() < prefix.size() || !SameText(name.data(), prefix.size(), prefix.data(), prefix.size())) return false;
    if (name.size() == prefix.size()) {
        rest.clear();
        return true;
    }
    if (name[prefix.size()] != L'\\') return false;
    rest = name.substr(prefix.size() + 1);
    return true;
}

std::wstring Joined(const std::wstring& a, const std::wstring& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    return a + L"\\" + b;
}

bool Exempt() {
    return State.tls != TLS_OUT_OF_INDEXES && TlsGetValue(State.tls) != nullptr;
}

bool Intercepting() { return InterlockedCompareExchange(&State.active, 0, 0) != 0 && !Exempt(); }

// The native name of an open key; empty when it cannot be read.
std::wstring NativeName(HANDLE key) {
    if (!Real.queryKey) return std::wstring();
    std::vector<BYTE> buffer(1024);
    ULONG needed = 0;
    NTSTATUS status = Real.queryKey(key, kKeyNameInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if ((status == kBufferOverflow || status == kBufferTooSmall) && needed > buffer.size()) {
        buffer.resize(needed);
        status = Real.queryKey(key, kKeyNameInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    }
    if (status < 0) return std::wstring();
    ULONG length = 0;
    std::memcpy(&length, buffer.data(), sizeof length);
    if (length > buffer.size() - sizeof length) return std::wstring();
    return std::wstring(reinterpret_cast<const wchar_t*>(buffer.data() + sizeof length), length / sizeof(wchar_t));
}

const wchar_t* const kScratchRootNames[4][2] = {
    {L"HKCR", L"HKCR (other view)"},
    {L"HKLM", L"HKLM (other view)"},
    {L"HKCU", L"HKCU (other view)"},
    {L"HKU", L"HKU (other view)"},
};

// Where the native key name `name` stands.
TPlace PlaceOfName(const std::wstring& name) {
    TPlace place;
    std::wstring rest;
    if (!State.scratchName.empty() && Below(name, State.scratchName, rest) && !rest.empty()) {
        const size_t cut = rest.find(L'\\');
        const std::wstring top = rest.substr(0, cut);
        for (int r = 0; r < 4; ++r) {
            for (int v = 0; v < 2; ++v) {
                if (!SameText(top.data(), top.size(), kScratchRootNames[r][v], std::wcslen(kScratchRootNames[r][v]))) {
                    continue;
                }
                place.known = true;
                place.scratch = true;
                place.root = static_cast<TCaptureRoot>(r);
                place.view = State.hasOtherView ? (v == 0 ? State.ownView : 96 - State.ownView) : 0;
                place.physical = v;
                place.path = cut == std::wstring::npos ? std::wstring() : rest.substr(cut + 1);
                return place;
            }
        }
        return place;
    }
    for (const TPrefix& prefix : State.prefixes) {
        if (!Below(name, prefix.name, rest)) continue;
        place.known = true;
        place.root = prefix.root;
        place.view = prefix.view;
        place.path = Joined(prefix.path, rest);
        return place;
    }
    return place;
}

// Where an open key stands: known from its opening, or from its name.
TPlace PlaceOfHandle(HANDLE key) {
    AcquireSRWLockShared(&State.lock);
    auto found = State.handles.find(key);
    const bool have = found != State.handles.end();
    TPlace place = have ? found->second : TPlace();
    ReleaseSRWLockShared(&State.lock);
    if (have) return place;
    place = PlaceOfName(NativeName(key));
    AcquireSRWLockExclusive(&State.lock);
    State.handles[key] = place;
    ReleaseSRWLockExclusive(&State.lock);
    return place;
}

// Where an open key stands, when its opening was seen.
bool Lookup(HANDLE key, TPlace& place) {
    AcquireSRWLockShared(&State.lock);
    auto found = State.handles.find(key);
    const bool have = found != State.handles.end();
    if (have) place = found->second;
    ReleaseSRWLockShared(&State.lock);
    return have;
}

void Remember(HANDLE key, const TPlace& place) {
    AcquireSRWLockExclusive(&State.lock);
    State.handles[key] = place;
    ReleaseSRWLockExclusive(&State.lock);
}

int ViewOfAccess(ACCESS_MASK access) {
    if (!State.hasOtherView) return 0;
    if (access & KEY_WOW64_64KEY) return 64;
    if (access & KEY_WOW64_32KEY) return 32;
    return 0;
}

}  // namespace

bool IsViewSpecific(TCaptureRoot root, const std::wstring& path) {
    static const wchar_t* const kSplit[] = {L"CLSID", L"DirectShow", L"Interface", L"Media Type", L"MediaFoundation"};
    auto splitClasses = [](const std::wstring& below) {
        const std::wstring top = below.substr(0, below.find(L'\\'));
        for (const wchar_t* split : kSplit) {
            if (SameText(top.data(), top.size(), split, std::wcslen(split))) return true;
        }
        return false;
    };
    std::wstring rest;
    switch (root) {
    case TCaptureRoot::ClassesRoot: return splitClasses(path);
    case TCaptureRoot::LocalMachine:
        if (Below(path, L"Software\\Classes", rest)) return !rest.empty() && splitClasses(rest);
        // Software itself differs per view: each holds its own keys.
        return Below(path, L"Software", rest);
    case TCaptureRoot::CurrentUser: return Below(path, L"Software\\Classes", rest) && splitClasses(rest);
    default: return false;
    }
}

namespace {

// The view a write to `place` is recorded in: the other one only where
// Windows keeps that key apart per view.
bool OtherViewOf(const TPlace& place) {
    return State.hasOtherView && place.view != 0 && place.view != State.ownView &&
           IsViewSpecific(place.root, place.path);
}

void Record(TRegWriteKind kind, const TPlace& place, const UNICODE_STRING* name = nullptr, ULONG type = 0,
            const void* data = nullptr, ULONG size = 0) {
    TRegWrite write;
    write.kind = kind;
    write.root = place.root;
    write.otherView = OtherViewOf(place);
    write.path = place.path;
    if (name && name->Buffer) write.name.assign(name->Buffer, name->Length / sizeof(wchar_t));
    write.type = type;
    if (data && size) write.data.assign(static_cast<const char*>(data), size);
    AcquireSRWLockExclusive(&State.lock);
    write.loading = !State.calling;
    State.writes.push_back(std::move(write));
    ReleaseSRWLockExclusive(&State.lock);
}

// The scratch key that stands for `place` in a capture: its root's key of
// the place's view (the own view's where the key is not kept apart per
// view).
HANDLE ScratchRootOf(const TPlace& place) {
    const int v = OtherViewOf(place) ? 1 : 0;
    return State.scratchKeys[static_cast<int>(place.root)][v];
}

UNICODE_STRING Counted(const std::wstring& text) {
    UNICODE_STRING counted;
    counted.Buffer = const_cast<wchar_t*>(text.c_str());
    counted.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    counted.MaximumLength = counted.Length;
    return counted;
}

// Opens (or creates) the scratch key that stands for `place`.
NTSTATUS OpenScratch(const TPlace& place, ACCESS_MASK access, bool create, HANDLE* key, ULONG* disposition = nullptr,
                     ULONG options = 0) {
    HANDLE root = ScratchRootOf(place);
    if (!root) return kAccessDenied;
    std::wstring path = place.path;
    UNICODE_STRING name = Counted(path);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, root, nullptr);
    access &= ~static_cast<ACCESS_MASK>(KEY_WOW64_32KEY | KEY_WOW64_64KEY);
    if (create) return Real.createKey(key, access, &attributes, 0, nullptr, options & ~REG_OPTION_VOLATILE, disposition);
    return Real.openKey(key, access, &attributes);
}

// What a call that opens or creates a key means to reach, and where it is
// sent instead.
struct TRoute {
    TPlace place;        // the key meant
    bool divert = false; // open the scratch key for it instead (a capture)
    bool user = false;   // open the user's classes for it instead (per user)
    bool refuse = false; // refused (machine-wide, per user)
};

// A class looked up in the live classes while a capture runs (as COM does,
// past any redirection) is recorded: a registration that needs one of its
// own classes registered already cannot be captured the same everywhere.
void NoteClassLookup(const OBJECT_ATTRIBUTES* attributes, const std::wstring& name) {
    static const wchar_t kClsid[] = L"CLSID\\";
    const size_t length = sizeof kClsid / sizeof kClsid[0] - 1;
    if (State.mode != TInterceptMode::Capture || !attributes->RootDirectory || name.size() <= length ||
        !SameText(name.data(), length, kClsid, length)) {
        return;
    }
    TPlace place = PlaceOfHandle(attributes->RootDirectory);
    if (!place.known || place.scratch || place.root != TCaptureRoot::ClassesRoot || !place.path.empty()) return;
    place.path = name;
    Record(TRegWriteKind::LookedUp, place);
}

TRoute RouteOf(ACCESS_MASK access, const OBJECT_ATTRIBUTES* attributes, bool create) {
    TRoute route;
    if (!attributes || !attributes->ObjectName) return route;
    const UNICODE_STRING& counted = *attributes->ObjectName;
    const std::wstring name = counted.Buffer ? std::wstring(counted.Buffer, counted.Length / sizeof(wchar_t))
                                             : std::wstring();
    const bool writes = create || (access & kWriteRights);
    const int asked = ViewOfAccess(access);
    // A key only read, in the view it is opened from, needs no route, unless
    // it is opened below a scratch key (which may stand for another view
    // than the root it lies in).
    if (!writes && !asked) {
        TPlace parent;
        if (attributes->RootDirectory && Lookup(attributes->RootDirectory, parent) && parent.scratch) {
            // Routed below.
        } else {
            NoteClassLookup(attributes, name);
            return route;
        }
    }
    TPlace place;
    if (attributes->RootDirectory) {
        place = PlaceOfHandle(attributes->RootDirectory);
        if (!place.known) return route;
        place.path = Joined(place.path, name);
    } else {
        place = PlaceOfName(name);
        if (!place.known) return route;
    }
    if (asked) place.view = asked;
    if (!place.view && State.hasOtherView) place.view = State.ownView;
    route.place = place;
    // A root itself, opened in the process's own view, exists and is not
    // written by opening it: handles to it are cached (the system's own
    // classes root among them) and must keep leading to the live keys,
    // whose writes are routed key by key.
    if (!place.scratch && place.path.empty() && !asked) return route;
    if (State.mode == TInterceptMode::Capture) {
        // A scratch key is opened in place unless the key asked for lies in
        // the other view's scratch root; a live key is written only in the
        // scratch key that stands for it.
        route.divert = place.scratch ? (OtherViewOf(place) ? 1 : 0) != place.physical : writes;
    } else if (writes && !place.scratch) {
        if (place.root == TCaptureRoot::ClassesRoot) {
            route.user = true;
        } else if (place.root != TCaptureRoot::CurrentUser) {
            route.refuse = true;
        }
    }
    return route;
}

// Opens or creates a key as routed; `call` makes the original call when
// the key is left where it was meant.
template <typename TCall>
NTSTATUS Routed(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, bool create, ULONG options,
                PULONG disposition, TCall call) {
    if (!Intercepting() || !key) return call();
    const TRoute route = RouteOf(access, attributes, create);
    if (route.refuse) {
        Record(TRegWriteKind::Refused, route.place);
        return kAccessDenied;
    }
    NTSTATUS status;
    TPlace opened = route.place;
    if (route.divert) {
        status = OpenScratch(route.place, access, create, key, disposition, options);
        opened.scratch = true;
        opened.physical = OtherViewOf(route.place) ? 1 : 0;
    } else if (route.user) {
        std::wstring user = Joined(State.userName + L"\\Software\\Classes", route.place.path);
        UNICODE_STRING name = Counted(user);
        OBJECT_ATTRIBUTES moved = *attributes;
        moved.RootDirectory = nullptr;
        moved.ObjectName = &name;
        ACCESS_MASK view = access & ~static_cast<ACCESS_MASK>(KEY_WOW64_32KEY | KEY_WOW64_64KEY);
        if (route.place.view == 64) view |= KEY_WOW64_64KEY;
        if (route.place.view == 32) view |= KEY_WOW64_32KEY;
        status = create ? Real.createKey(key, view, &moved, 0, nullptr, options, disposition)
                        : Real.openKey(key, view, &moved);
        opened.known = false;  // the user's own keys
    } else {
        status = call();
    }
    if (status >= 0 && route.place.known) {
        if (opened.known && opened.scratch) Remember(*key, opened);
        if (create && opened.scratch && State.mode == TInterceptMode::Capture && !route.place.path.empty()) {
            Record(TRegWriteKind::CreateKey, route.place);
        }
    }
    return status;
}

NTSTATUS NTAPI HookCreateKey(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, ULONG index,
                             PUNICODE_STRING keyClass, ULONG options, PULONG disposition) {
    return Routed(key, access, attributes, true, options, disposition, [&] {
        return Real.createKey(key, access, attributes, index, keyClass, options, disposition);
    });
}

NTSTATUS NTAPI HookCreateKeyTransacted(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, ULONG index,
                                       PUNICODE_STRING keyClass, ULONG options, HANDLE transaction,
                                       PULONG disposition) {
    return Routed(key, access, attributes, true, options, disposition, [&] {
        return Real.createKeyTransacted(key, access, attributes, index, keyClass, options, transaction, disposition);
    });
}

NTSTATUS NTAPI HookOpenKey(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes) {
    return Routed(key, access, attributes, false, 0, nullptr, [&] { return Real.openKey(key, access, attributes); });
}

NTSTATUS NTAPI HookOpenKeyEx(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, ULONG options) {
    return Routed(key, access, attributes, false, 0, nullptr,
                  [&] { return Real.openKeyEx(key, access, attributes, options); });
}

NTSTATUS NTAPI HookOpenKeyTransacted(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                     HANDLE transaction) {
    return Routed(key, access, attributes, false, 0, nullptr,
                  [&] { return Real.openKeyTransacted(key, access, attributes, transaction); });
}

NTSTATUS NTAPI HookOpenKeyTransactedEx(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, ULONG options,
                                       HANDLE transaction) {
    return Routed(key, access, attributes, false, 0, nullptr,
                  [&] { return Real.openKeyTransactedEx(key, access, attributes, options, transaction); });
}

// A write through an open key: made where it was, or, for a live key in a
// capture, in the scratch key that stands for it.
enum class TWriteRoute { Pass, Scratch, Refuse };

TWriteRoute RouteWrite(HANDLE key, TPlace& place) {
    place = PlaceOfHandle(key);
    if (!place.known) return TWriteRoute::Pass;
    if (!place.view && State.hasOtherView) place.view = State.ownView;
    if (place.scratch) return TWriteRoute::Pass;
    if (State.mode == TInterceptMode::Capture) return TWriteRoute::Scratch;
    // Per user: the user's own keys are written; a key of the machine's
    // classes (a handle opened past the redirection) is machine-wide too.
    return place.root == TCaptureRoot::CurrentUser ? TWriteRoute::Pass : TWriteRoute::Refuse;
}

NTSTATUS NTAPI HookSetValueKey(HANDLE key, PUNICODE_STRING name, ULONG index, ULONG type, PVOID data, ULONG size) {
    if (!Intercepting()) return Real.setValueKey(key, name, index, type, data, size);
    TPlace place;
    const TWriteRoute route = RouteWrite(key, place);
    NTSTATUS status;
    if (route == TWriteRoute::Refuse) {
        Record(TRegWriteKind::Refused, place);
        return kAccessDenied;
    }
    if (route == TWriteRoute::Scratch) {
        HANDLE scratch = nullptr;
        status = OpenScratch(place, KEY_SET_VALUE, true, &scratch);
        if (status < 0) return status;
        status = Real.setValueKey(scratch, name, index, type, data, size);
        Real.close(scratch);
    } else {
        status = Real.setValueKey(key, name, index, type, data, size);
    }
    if (status >= 0 && place.known && State.mode == TInterceptMode::Capture) {
        Record(TRegWriteKind::SetValue, place, name, type, data, size);
    }
    return status;
}

// A deletion through an open key (`remove` makes it on a handle): made where
// it was meant, or, for a live key in a capture, in the scratch key that
// stands for it, if that holds it; the live key or value stays.
template <typename TRemove>
NTSTATUS Deleting(HANDLE key, ACCESS_MASK access, TRegWriteKind kind, const UNICODE_STRING* name, TRemove remove) {
    TPlace place;
    const TWriteRoute route = RouteWrite(key, place);
    if (route == TWriteRoute::Refuse) {
        Record(TRegWriteKind::Refused, place);
        return kAccessDenied;
    }
    NTSTATUS status = kSuccess;
    if (route == TWriteRoute::Scratch) {
        HANDLE scratch = nullptr;
        if (OpenScratch(place, access, false, &scratch) >= 0) {
            remove(scratch);
            Real.close(scratch);
        }
    } else {
        status = remove(key);
    }
    if (status >= 0 && place.known && State.mode == TInterceptMode::Capture) Record(kind, place, name);
    return status;
}

NTSTATUS NTAPI HookDeleteValueKey(HANDLE key, PUNICODE_STRING name) {
    if (!Intercepting()) return Real.deleteValueKey(key, name);
    return Deleting(key, KEY_SET_VALUE, TRegWriteKind::DeleteValue, name,
                    [name](HANDLE on) { return Real.deleteValueKey(on, name); });
}

NTSTATUS NTAPI HookDeleteKey(HANDLE key) {
    if (!Intercepting()) return Real.deleteKey(key);
    return Deleting(key, DELETE, TRegWriteKind::DeleteKey, nullptr, [](HANDLE on) { return Real.deleteKey(on); });
}

// Calls that replace, load or rename whole keys are not made while a scope
// is active: they are recorded as refused writes.
NTSTATUS RefuseKey(HANDLE key) {
    TPlace place = key ? PlaceOfHandle(key) : TPlace();
    Record(TRegWriteKind::Refused, place);
    return kAccessDenied;
}

NTSTATUS RefuseName(const OBJECT_ATTRIBUTES* attributes) {
    TPlace place;
    if (attributes && attributes->ObjectName && attributes->ObjectName->Buffer) {
        const std::wstring name(attributes->ObjectName->Buffer, attributes->ObjectName->Length / sizeof(wchar_t));
        place = attributes->RootDirectory ? PlaceOfHandle(attributes->RootDirectory) : PlaceOfName(name);
        if (attributes->RootDirectory) place.path = Joined(place.path, name);
    }
    Record(TRegWriteKind::Refused, place);
    return kAccessDenied;
}

NTSTATUS NTAPI HookRenameKey(HANDLE key, PUNICODE_STRING name) {
    return Intercepting() ? RefuseKey(key) : Real.renameKey(key, name);
}
NTSTATUS NTAPI HookRestoreKey(HANDLE key, HANDLE file, ULONG flags) {
    return Intercepting() ? RefuseKey(key) : Real.restoreKey(key, file, flags);
}
NTSTATUS NTAPI HookLoadKey(POBJECT_ATTRIBUTES target, POBJECT_ATTRIBUTES file) {
    return Intercepting() ? RefuseName(target) : Real.loadKey(target, file);
}
NTSTATUS NTAPI HookLoadKey2(POBJECT_ATTRIBUTES target, POBJECT_ATTRIBUTES file, ULONG flags) {
    return Intercepting() ? RefuseName(target) : Real.loadKey2(target, file, flags);
}
NTSTATUS NTAPI HookReplaceKey(POBJECT_ATTRIBUTES file, HANDLE key, POBJECT_ATTRIBUTES old) {
    return Intercepting() ? RefuseKey(key) : Real.replaceKey(file, key, old);
}
NTSTATUS NTAPI HookUnloadKey(POBJECT_ATTRIBUTES target) {
    return Intercepting() ? RefuseName(target) : Real.unloadKey(target);
}

NTSTATUS NTAPI HookClose(HANDLE handle) {
    // Handles are known only while a scope is active.
    if (InterlockedCompareExchange(&State.active, 0, 0)) {
        AcquireSRWLockExclusive(&State.lock);
        State.handles.erase(handle);
        ReleaseSRWLockExclusive(&State.lock);
    }
    return Real.close(handle);
}

// The replaced calls: each original with its replacement.
struct THook {
    const char* name;
    void** original;
    void* hook;
};

THook Hooks[] = {
    {"NtCreateKey", reinterpret_cast<void**>(&Real.createKey), reinterpret_cast<void*>(HookCreateKey)},
    {"NtCreateKeyTransacted", reinterpret_cast<void**>(&Real.createKeyTransacted),
     reinterpret_cast<void*>(HookCreateKeyTransacted)},
    {"NtOpenKey", reinterpret_cast<void**>(&Real.openKey), reinterpret_cast<void*>(HookOpenKey)},
    {"NtOpenKeyEx", reinterpret_cast<void**>(&Real.openKeyEx), reinterpret_cast<void*>(HookOpenKeyEx)},
    {"NtOpenKeyTransacted", reinterpret_cast<void**>(&Real.openKeyTransacted),
     reinterpret_cast<void*>(HookOpenKeyTransacted)},
    {"NtOpenKeyTransactedEx", reinterpret_cast<void**>(&Real.openKeyTransactedEx),
     reinterpret_cast<void*>(HookOpenKeyTransactedEx)},
    {"NtSetValueKey", reinterpret_cast<void**>(&Real.setValueKey), reinterpret_cast<void*>(HookSetValueKey)},
    {"NtDeleteKey", reinterpret_cast<void**>(&Real.deleteKey), reinterpret_cast<void*>(HookDeleteKey)},
    {"NtDeleteValueKey", reinterpret_cast<void**>(&Real.deleteValueKey), reinterpret_cast<void*>(HookDeleteValueKey)},
    {"NtRenameKey", reinterpret_cast<void**>(&Real.renameKey), reinterpret_cast<void*>(HookRenameKey)},
    {"NtRestoreKey", reinterpret_cast<void**>(&Real.restoreKey), reinterpret_cast<void*>(HookRestoreKey)},
    {"NtLoadKey", reinterpret_cast<void**>(&Real.loadKey), reinterpret_cast<void*>(HookLoadKey)},
    {"NtLoadKey2", reinterpret_cast<void**>(&Real.loadKey2), reinterpret_cast<void*>(HookLoadKey2)},
    {"NtReplaceKey", reinterpret_cast<void**>(&Real.replaceKey), reinterpret_cast<void*>(HookReplaceKey)},
    {"NtUnloadKey", reinterpret_cast<void**>(&Real.unloadKey), reinterpret_cast<void*>(HookUnloadKey)},
    {"NtClose", reinterpret_cast<void**>(&Real.close), reinterpret_cast<void*>(HookClose)},
};

// The replacement of a native key call's address, or null.
void* HookFor(const void* address) {
    if (!address) return nullptr;
    for (const THook& hook : Hooks) {
        if (*hook.original == address) return hook.hook;
    }
    return nullptr;
}

// GetProcAddress hands out the replacements for the native key calls.
FARPROC WINAPI HookGetProcAddress0(HMODULE module, LPCSTR name) {
    FARPROC found = Real.getProcAddress[0](module, name);
    void* hook = HookFor(reinterpret_cast<void*>(found));
    return hook ? reinterpret_cast<FARPROC>(hook) : found;
}
FARPROC WINAPI HookGetProcAddress1(HMODULE module, LPCSTR name) {
    FARPROC found = Real.getProcAddress[1](module, name);
    void* hook = HookFor(reinterpret_cast<void*>(found));
    return hook ? reinterpret_cast<FARPROC>(hook) : found;
}

void* ReplacementOf(const void* address) {
    if (void* hook = HookFor(address)) return hook;
    if (address && address == reinterpret_cast<void*>(Real.getProcAddress[0])) {
        return reinterpret_cast<void*>(HookGetProcAddress0);
    }
    if (address && address == reinterpret_cast<void*>(Real.getProcAddress[1])) {
        return reinterpret_cast<void*>(HookGetProcAddress1);
    }
    return nullptr;
}

// Replaces every slot of an import address table that holds one of the
// replaced calls.
void PatchTable(void** slot) {
    for (; *slot; ++slot) {
        void* replacement = ReplacementOf(*slot);
        if (!replacement) continue;
        DWORD old = 0;
        if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) continue;
        InterlockedExchangePointer(slot, replacement);
        VirtualProtect(slot, sizeof *slot, old, &old);
    }
}

// Replaces the calls in one module's import tables, the delay-loaded ones
// already bound too (those bound later are bound through GetProcAddress).
void PatchModule(HMODULE module) {
    if (!module || module == GetModuleHandleW(L"ntdll.dll")) return;
    BYTE* base = reinterpret_cast<BYTE*>(module);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return;
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return;
    const IMAGE_DATA_DIRECTORY* directories = nt->OptionalHeader.DataDirectory;
    const DWORD count = nt->OptionalHeader.NumberOfRvaAndSizes;
    if (count > IMAGE_DIRECTORY_ENTRY_IMPORT && directories[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress) {
        auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
            base + directories[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
        for (; import->Name; ++import) {
            if (import->FirstThunk) PatchTable(reinterpret_cast<void**>(base + import->FirstThunk));
        }
    }
    if (count > IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT && directories[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].VirtualAddress) {
        auto* delayed = reinterpret_cast<const IMAGE_DELAYLOAD_DESCRIPTOR*>(
            base + directories[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].VirtualAddress);
        for (; delayed->DllNameRVA; ++delayed) {
            if (delayed->ImportAddressTableRVA) {
                PatchTable(reinterpret_cast<void**>(base + delayed->ImportAddressTableRVA));
            }
        }
    }
}

void PatchLoadedModules() {
    std::vector<HMODULE> modules(256);
    DWORD needed = 0;
    for (;;) {
        if (!K32EnumProcessModules(GetCurrentProcess(), modules.data(),
                                   static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed)) {
            return;
        }
        if (needed <= modules.size() * sizeof(HMODULE)) break;
        modules.resize(needed / sizeof(HMODULE) + 16);
    }
    modules.resize(needed / sizeof(HMODULE));
    for (HMODULE module : modules) PatchModule(module);
}

// Modules loaded later are patched as the loader reports them.
struct TDllNotification {
    ULONG flags;
    const UNICODE_STRING* fullName;
    const UNICODE_STRING* baseName;
    void* base;
    ULONG size;
};
using TDllNotified = VOID(CALLBACK*)(ULONG, const TDllNotification*, PVOID);
using TLdrRegisterDllNotification = NTSTATUS(NTAPI*)(ULONG, TDllNotified, PVOID, PVOID*);

VOID CALLBACK DllNotified(ULONG reason, const TDllNotification* data, PVOID) {
    const ULONG kLoaded = 1;
    if (reason == kLoaded && data) PatchModule(static_cast<HMODULE>(data->base));
}

// Learns the native name of a view's key when it differs from the other
// view's (Windows names the 32-bit view's keys with WOW6432Node; where the
// system keeps them apart below the key instead, there is nothing to learn).
void Learn(const wchar_t* path, TCaptureRoot as, const std::wstring& asPath) {
    std::wstring names[2];
    const REGSAM views[2] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};
    for (int v = 0; v < 2; ++v) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | views[v], &key) != ERROR_SUCCESS) return;
        names[v] = NativeName(key);
        RegCloseKey(key);
    }
    if (names[0].empty() || SameText(names[0].data(), names[0].size(), names[1].data(), names[1].size())) return;
    State.prefixes.push_back(TPrefix{names[0], as, asPath, 32});
}

bool Install() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) return false;
    for (THook& hook : Hooks) *hook.original = reinterpret_cast<void*>(GetProcAddress(ntdll, hook.name));
    Real.queryKey = reinterpret_cast<TNtQueryKey>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryKey")));
    if (!Real.createKey || !Real.openKey || !Real.setValueKey || !Real.deleteKey || !Real.deleteValueKey ||
        !Real.close || !Real.queryKey) {
        for (THook& hook : Hooks) *hook.original = nullptr;
        return false;
    }
    const wchar_t* const kernels[2] = {L"kernel32.dll", L"kernelbase.dll"};
    for (int i = 0; i < 2; ++i) {
        HMODULE kernel = GetModuleHandleW(kernels[i]);
        Real.getProcAddress[i] = kernel ? reinterpret_cast<TGetProcAddress>(reinterpret_cast<void*>(
                                              GetProcAddress(kernel, "GetProcAddress")))
                                        : nullptr;
    }
    if (Real.getProcAddress[1] == Real.getProcAddress[0]) Real.getProcAddress[1] = nullptr;
    State.tls = TlsAlloc();

    BOOL wow64 = FALSE;
    State.hasOtherView = sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
    State.ownView = sizeof(void*) == 8 ? 64 : 32;
    // The native names of the roots, learned from the keys themselves: the
    // views' own names first, so that the longest name that fits is found
    // first once they are sorted.
    HKEY user = nullptr;
    if (RegOpenCurrentUser(KEY_READ, &user) == ERROR_SUCCESS) {
        State.userName = NativeName(user);
        RegCloseKey(user);
    }
    if (State.hasOtherView) {
        Learn(L"Software\\Classes", TCaptureRoot::ClassesRoot, L"");
        Learn(L"Software", TCaptureRoot::LocalMachine, L"Software");
        // Windows names the 32-bit classes both ways.
        for (const TPrefix& known : std::vector<TPrefix>(State.prefixes)) {
            std::wstring rest;
            if (known.root == TCaptureRoot::ClassesRoot && Below(known.name, L"\\REGISTRY\\MACHINE\\SOFTWARE\\Classes", rest)) {
                State.prefixes.push_back(TPrefix{L"\\REGISTRY\\MACHINE\\SOFTWARE\\WOW6432Node\\Classes", known.root, L"", 32});
            } else if (known.root == TCaptureRoot::ClassesRoot) {
                State.prefixes.push_back(TPrefix{L"\\REGISTRY\\MACHINE\\SOFTWARE\\Classes\\WOW6432Node", known.root, L"", 32});
            }
        }
    }
    State.prefixes.push_back(TPrefix{L"\\REGISTRY\\MACHINE\\SOFTWARE\\Classes", TCaptureRoot::ClassesRoot, L"", 0});
    if (!State.userName.empty()) {
        State.prefixes.push_back(TPrefix{State.userName + L"_Classes", TCaptureRoot::CurrentUser, L"Software\\Classes", 0});
        State.prefixes.push_back(TPrefix{State.userName, TCaptureRoot::CurrentUser, L"", 0});
    }
    State.prefixes.push_back(TPrefix{L"\\REGISTRY\\MACHINE", TCaptureRoot::LocalMachine, L"", 0});
    State.prefixes.push_back(TPrefix{L"\\REGISTRY\\USER", TCaptureRoot::Users, L"", 0});
    std::stable_sort(State.prefixes.begin(), State.prefixes.end(),
                     [](const TPrefix& a, const TPrefix& b) { return a.name.size() > b.name.size(); });

    PatchLoadedModules();
    auto registerNotification = reinterpret_cast<TLdrRegisterDllNotification>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrRegisterDllNotification")));
    PVOID cookie = nullptr;
    if (registerNotification) registerNotification(0, DllNotified, nullptr, &cookie);
    return true;
}

}  // namespace

bool InstallRegistryInterception() {
    static bool tried = false;
    if (!tried) {
        tried = true;
        State.installed = Install();
    }
    return State.installed;
}

TInterceptScope::TInterceptScope(TInterceptMode mode, const TScratchRoots& scratch) {
    if (!InstallRegistryInterception()) return;
    AcquireSRWLockExclusive(&State.lock);
    State.mode = mode;
    State.calling = false;
    State.writes.clear();
    State.handles.clear();
    for (int r = 0; r < 4; ++r) {
        for (int v = 0; v < 2; ++v) State.scratchKeys[r][v] = static_cast<HANDLE>(scratch.keys[r][v]);
    }
    State.scratchName = scratch.base.empty() || State.userName.empty() ? std::wstring()
                                                                       : State.userName + L"\\" + scratch.base;
    ReleaseSRWLockExclusive(&State.lock);
    InterlockedExchange(&State.active, 1);
    active_ = true;
}

TInterceptScope::~TInterceptScope() { Finish(); }

void TInterceptScope::Calling() {
    if (!active_) return;
    AcquireSRWLockExclusive(&State.lock);
    State.calling = true;
    ReleaseSRWLockExclusive(&State.lock);
}

std::vector<TRegWrite> TInterceptScope::Finish() {
    if (!active_) return {};
    active_ = false;
    InterlockedExchange(&State.active, 0);
    AcquireSRWLockExclusive(&State.lock);
    std::vector<TRegWrite> writes = std::move(State.writes);
    State.writes.clear();
    State.handles.clear();
    ReleaseSRWLockExclusive(&State.lock);
    return writes;
}

TInterceptExempt::TInterceptExempt(bool forScope) : forScope_(forScope) {
    if (State.tls == TLS_OUT_OF_INDEXES) InstallRegistryInterception();
    was_ = Exempt();
    if (State.tls != TLS_OUT_OF_INDEXES) TlsSetValue(State.tls, reinterpret_cast<void*>(1));
}

TInterceptExempt::~TInterceptExempt() {
    if (forScope_ && !was_ && State.tls != TLS_OUT_OF_INDEXES) TlsSetValue(State.tls, nullptr);
}

// ---------------------------------------------------------------------------
// What the writes leave.

namespace {

struct TModelValue {
    std::wstring name;
    std::uint32_t type = 0;
    std::string data;
    bool deleted = false;
};

struct TModelKey {
    TCaptureRoot root;
    bool otherView;
    std::wstring path;
    bool deletedFirst = false;  // deleted, then perhaps written anew
    bool written = false;
    std::vector<TModelValue> values;
    bool gone = false;  // deleted with a key above it
};

bool SameName(const std::wstring& a, const std::wstring& b) { return SameText(a.data(), a.size(), b.data(), b.size()); }

bool IsBelowW(const std::wstring& path, const std::wstring& parent) {
    std::wstring rest;
    return Below(path, parent, rest) && !rest.empty();
}

}  // namespace

std::vector<TCapturedKey> KeysOfWrites(const std::vector<TRegWrite>& writes, bool hasOtherView) {
    std::vector<TModelKey> model;
    auto find = [&model](const TRegWrite& write) -> TModelKey& {
        for (TModelKey& key : model) {
            if (!key.gone && key.root == write.root && key.otherView == write.otherView &&
                SameName(key.path, write.path)) {
                return key;
            }
        }
        TModelKey added;
        added.root = write.root;
        added.otherView = write.otherView;
        added.path = write.path;
        model.push_back(std::move(added));
        return model.back();
    };
    for (const TRegWrite& write : writes) {
        if (write.kind == TRegWriteKind::Refused || write.kind == TRegWriteKind::LookedUp || write.path.empty()) {
            continue;
        }
        TRegWrite placed = write;
        placed.otherView = hasOtherView && write.otherView;
        switch (write.kind) {
        case TRegWriteKind::CreateKey: find(placed).written = true; break;
        case TRegWriteKind::SetValue:
        case TRegWriteKind::DeleteValue: {
            TModelKey& key = find(placed);
            const bool deleted = write.kind == TRegWriteKind::DeleteValue;
            if (!deleted) key.written = true;
            TModelValue* value = nullptr;
            for (TModelValue& known : key.values) {
                if (SameName(known.name, write.name)) value = &known;
            }
            if (!value) {
                key.values.emplace_back();
                key.values.back().name = write.name;
                value = &key.values.back();
            }
            value->deleted = deleted;
            value->type = deleted ? 0 : write.type;
            value->data = deleted ? std::string() : write.data;
            break;
        }
        case TRegWriteKind::DeleteKey: {
            for (TModelKey& key : model) {
                if (key.root == placed.root && key.otherView == placed.otherView && IsBelowW(key.path, placed.path)) {
                    key.gone = true;
                }
            }
            TModelKey& key = find(placed);
            key.deletedFirst = true;
            key.written = false;
            key.values.clear();
            break;
        }
        default: break;
        }
    }
    std::vector<TCapturedKey> keys;
    for (const TModelKey& key : model) {
        if (key.gone) continue;
        if (key.deletedFirst) {
            TCapturedKey deleted;
            deleted.root = key.root;
            deleted.otherView = key.otherView;
            deleted.path = qv::WideToUtf8(key.path);
            deleted.deleted = true;
            keys.push_back(std::move(deleted));
        }
        if (!key.written && key.values.empty()) continue;
        // A key without values that holds written keys is implied by them.
        if (key.values.empty() && !key.deletedFirst) {
            bool implied = false;
            for (const TModelKey& other : model) {
                implied = implied || (!other.gone && other.root == key.root && other.otherView == key.otherView &&
                                      (other.written || !other.values.empty()) && IsBelowW(other.path, key.path));
            }
            if (implied) continue;
        }
        TCapturedKey captured;
        captured.root = key.root;
        captured.otherView = key.otherView;
        captured.path = qv::WideToUtf8(key.path);
        for (const TModelValue& value : key.values) {
            TCapturedValue out;
            out.name = qv::WideToUtf8(value.name);
            out.type = value.type;
            out.data = value.data;
            out.deleted = value.deleted;
            captured.values.push_back(std::move(out));
        }
        keys.push_back(std::move(captured));
    }
    return keys;
}

std::string WriteKeyName(const TRegWrite& write) {
    static const char* const kRoots[4] = {"HKEY_CLASSES_ROOT", "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER",
                                          "HKEY_USERS"};
    std::string name = kRoots[static_cast<int>(write.root)];
    if (!write.path.empty()) name += "\\" + qv::WideToUtf8(write.path);
    if (write.otherView) name += sizeof(void*) == 8 ? " (32-bit view)" : " (64-bit view)";
    return name;
}

}  // namespace engine
