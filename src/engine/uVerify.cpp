#include "engine/uVerify.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/QVCodePage.h"
#include "common/QVStrings.h"

namespace engine {

namespace {

// ---------------------------------------------------------------------------
// Text of registry data.

// A string value's UTF-16 units, without the NULs that end it (a writer may
// store one, several or none).
std::wstring Units(const std::string& data) {
    std::wstring units(data.size() / 2, L'\0');
    if (!units.empty()) std::memcpy(&units[0], data.data(), units.size() * 2);
    while (!units.empty() && units.back() == L'\0') units.pop_back();
    return units;
}

bool IsString(std::uint32_t type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

bool SameText(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() &&
           (a.empty() || CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                              TRUE) == CSTR_EQUAL);
}

std::wstring Expanded(const std::wstring& text) {
    wchar_t buffer[2048];
    const DWORD length = ExpandEnvironmentStringsW(text.c_str(), buffer, 2048);
    return length > 0 && length <= 2048 ? std::wstring(buffer) : text;
}

// A string value's text, environment variables expanded for REG_EXPAND_SZ.
std::wstring StringOf(std::uint32_t type, const std::string& data) {
    return type == REG_EXPAND_SZ ? Expanded(Units(data)) : Units(data);
}

// The data as the user reads it: strings as they are, numbers in hex and
// decimal, anything else as hex bytes.
std::string DataText(std::uint32_t type, const std::string& data) {
    if (IsString(type)) return qv::WideToUtf8(Units(data));
    if (type == REG_MULTI_SZ) {
        std::wstring units = Units(data);
        for (wchar_t& c : units) {
            if (c == L'\0') c = L'|';
        }
        return qv::WideToUtf8(units);
    }
    char text[64];
    if (type == REG_DWORD && data.size() == 4) {
        std::uint32_t value = 0;
        std::memcpy(&value, data.data(), 4);
        std::snprintf(text, sizeof text, "0x%08x (%u)", value, value);
        return text;
    }
    std::string hex = "hex:";
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(text, sizeof text, i ? ",%02x" : "%02x", static_cast<unsigned char>(data[i]));
        hex += text;
    }
    return hex;
}

// ---------------------------------------------------------------------------
// Values that name files.

enum class TPathKind : std::uint8_t {
    None,
    Server,       // InprocServer32, InprocHandler32: a library
    LocalServer,  // LocalServer32, LocalServer: a program and its arguments
    TypeLibrary,  // TypeLib\{libid}\ver\lcid\win32|win64|arm64: a file and a resource number
    Folder,       // a type library's HELPDIR
};

std::string LastPart(const std::string& path) {
    const size_t cut = path.rfind('\\');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The values whose data is compared as a file: the default value of the
// keys that name a class's server and a type library's file.
TPathKind PathKindOf(const std::string& classesPath, const std::string& valueName) {
    if (!valueName.empty()) return TPathKind::None;
    const std::string last = qv::UpperAscii(LastPart(classesPath));
    const bool typeLib = qv::UpperAscii(classesPath.substr(0, 8)) == "TYPELIB\\";
    if (typeLib && (last == "WIN32" || last == "WIN64" || last == "ARM64")) return TPathKind::TypeLibrary;
    if (typeLib && last == "HELPDIR") return TPathKind::Folder;
    if (typeLib) return TPathKind::None;
    if (last == "INPROCSERVER32" || last == "INPROCHANDLER32") return TPathKind::Server;
    if (last == "LOCALSERVER32" || last == "LOCALSERVER") return TPathKind::LocalServer;
    return TPathKind::None;
}

// A file value taken apart: the file, a program's arguments, a type
// library's resource number (1 when none is given).
struct TFileValue {
    std::wstring file;
    std::wstring arguments;
    unsigned resource = 1;
};

std::wstring Trimmed(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return std::wstring();
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

TFileValue SplitFileValue(TPathKind kind, const std::wstring& text) {
    TFileValue value;
    value.file = Trimmed(text);
    // A quoted name is the file between the quotes, for a library as for a
    // program (whose arguments follow).
    if (kind == TPathKind::LocalServer || kind == TPathKind::Server) {
        if (!value.file.empty() && value.file[0] == L'"') {
            const size_t close = value.file.find(L'"', 1);
            const std::wstring rest = close == std::wstring::npos ? std::wstring() : value.file.substr(close + 1);
            value.file = value.file.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
            value.arguments = Trimmed(rest);
        } else if (kind == TPathKind::LocalServer) {
            // Unquoted: the program ends with the first ".exe" that a blank
            // or the end follows; a name without one is all program.
            std::wstring upper = value.file;
            for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
            for (size_t at = upper.find(L".EXE"); at != std::wstring::npos; at = upper.find(L".EXE", at + 1)) {
                const size_t end = at + 4;
                if (end == upper.size() || upper[end] == L' ' || upper[end] == L'\t') {
                    value.arguments = Trimmed(value.file.substr(end));
                    value.file.resize(end);
                    break;
                }
            }
        }
    } else if (kind == TPathKind::TypeLibrary) {
        const size_t cut = value.file.rfind(L'\\');
        if (cut != std::wstring::npos && cut + 1 < value.file.size() &&
            value.file.find_first_not_of(L"0123456789", cut + 1) == std::wstring::npos && cut + 6 >= value.file.size()) {
            value.resource = static_cast<unsigned>(std::wcstoul(value.file.c_str() + cut + 1, nullptr, 10));
            value.file.resize(cut);
        }
    }
    // The long-path form names the same file: "\\?\C:\x" is "C:\x", and
    // "\\?\UNC\server\share" is "\\server\share".
    if (value.file.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        value.file = L"\\" + value.file.substr(7);
    } else if (value.file.compare(0, 4, L"\\\\?\\") == 0) {
        value.file = value.file.substr(4);
    }
    while (value.file.size() > 3 && (value.file.back() == L'\\' || value.file.back() == L'/')) value.file.pop_back();
    return value;
}

// A file's identity on disk: its volume's serial number and its index
// there. The 128-bit form (Windows 8 and later, and the file systems whose
// 64-bit index is not unique) is asked first, the 64-bit one otherwise.
struct TFileIdentity {
    bool wide = false;
    ULONGLONG volume = 0;
    BYTE index[16] = {};
    bool operator==(const TFileIdentity& o) const {
        return wide == o.wide && volume == o.volume && std::memcmp(index, o.index, sizeof index) == 0;
    }
};

// FileIdInfo, which the Windows 7 headers do not declare.
const FILE_INFO_BY_HANDLE_CLASS kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

bool FileIdentityOf(const std::wstring& path, TFileIdentity& id) {
    HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = GetFileType(file) == FILE_TYPE_DISK;
    // FILE_ID_INFO, declared here for the Windows 7 headers.
    struct {
        ULONGLONG volume;
        BYTE index[16];
    } wide;
    BY_HANDLE_FILE_INFORMATION info;
    if (ok && GetFileInformationByHandleEx(file, kFileIdInfo, &wide, sizeof wide)) {
        id.wide = true;
        id.volume = wide.volume;
        std::memcpy(id.index, wide.index, sizeof id.index);
    } else if (ok && GetFileInformationByHandle(file, &info)) {
        id.volume = info.dwVolumeSerialNumber;
        std::memcpy(id.index, &info.nFileIndexLow, 4);
        std::memcpy(id.index + 4, &info.nFileIndexHigh, 4);
    } else {
        ok = false;
    }
    CloseHandle(file);
    return ok;
}

// The name a client of the server's bitness opens: a 64-bit server's
// System32 is the real one, which this 32-bit process reaches through
// Sysnative; a 32-bit server's is the one this process sees.
std::wstring ClientView(const std::wstring& path, bool wow64Server) {
    if (wow64Server || sizeof(void*) == 8) return path;
    return qv::Utf8ToWide(NativeViewOf(qv::WideToUtf8(path)));
}

// True when the two names are one file: one spelling but for case, or,
// when both exist, one file on disk (its volume and index), which every
// name of it shares (short 8.3 names, hard links, other spellings). A name
// that does not exist equals only its own spelling.
bool SameFile(const std::wstring& a, const std::wstring& b, bool wow64Server) {
    if (SameText(a, b)) return true;
    if (a.empty() || b.empty()) return false;
    TFileIdentity idA, idB;
    return FileIdentityOf(ClientView(a, wow64Server), idA) && FileIdentityOf(ClientView(b, wow64Server), idB) &&
           idA == idB;
}

// How a value compares.
enum class TMatch : std::uint8_t { Equal, OtherFile, Different };

// Two values that name files: equal when they name the same file with the
// same arguments and resource number; another file when the files differ.
TMatch CompareFileValues(TPathKind kind, const std::wstring& expected, const std::wstring& found, bool wow64Server) {
    const TFileValue a = SplitFileValue(kind, expected), b = SplitFileValue(kind, found);
    if (!SameFile(a.file, b.file, wow64Server)) {
        return kind == TPathKind::Folder ? TMatch::Different : TMatch::OtherFile;
    }
    return a.resource == b.resource && SameText(a.arguments, b.arguments) ? TMatch::Equal : TMatch::Different;
}

// ---------------------------------------------------------------------------
// Reading the live registry.

struct TLiveValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::string data;
};

class TLiveKey {
public:
    TLiveKey() = default;
    TLiveKey(HKEY root, const std::string& path, REGSAM view) {
        if (RegOpenKeyExW(root, qv::Utf8ToWide(path).c_str(), 0, KEY_QUERY_VALUE | view, &key_) != ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    ~TLiveKey() {
        if (key_) RegCloseKey(key_);
    }
    TLiveKey(const TLiveKey&) = delete;
    TLiveKey& operator=(const TLiveKey&) = delete;
    TLiveKey(TLiveKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
    TLiveKey& operator=(TLiveKey&& other) noexcept {
        std::swap(key_, other.key_);
        return *this;
    }

    explicit operator bool() const { return key_ != nullptr; }

    TLiveValue Read(const std::string& name) const {
        TLiveValue value;
        if (!key_) return value;
        const std::wstring wide = qv::Utf8ToWide(name);
        DWORD size = 256;
        value.data.resize(size);
        for (int attempt = 0; attempt < 3; ++attempt) {
            const LONG result = RegQueryValueExW(key_, wide.c_str(), nullptr, &value.type,
                                                 reinterpret_cast<BYTE*>(&value.data[0]), &size);
            if (result == ERROR_MORE_DATA) {
                value.data.resize(size);
                continue;
            }
            if (result != ERROR_SUCCESS) break;
            value.data.resize(size);
            value.present = true;
            return value;
        }
        return TLiveValue{};
    }

private:
    HKEY key_ = nullptr;
};

bool Win64() {
    static const bool win64 = [] {
        BOOL wow64 = FALSE;
        return sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
    }();
    return win64;
}

// Where a captured key is compared.
enum class TPlace : std::uint8_t { Classes, Machine, Skipped };


// The classes (below the merged HKEY_CLASSES_ROOT) or machine path of a
// captured key. HKEY_CURRENT_USER keys outside Software\Classes and
// HKEY_USERS keys are skipped: they belong to whichever account registered
// the server, not to the computer.
TPlace PlaceOf(const TCapturedKey& key, std::string& path) {
    std::string rest;
    switch (key.root) {
    case TCaptureRoot::ClassesRoot: path = key.path; return TPlace::Classes;
    case TCaptureRoot::LocalMachine:
        if (StartsWithFolder(key.path, "Software\\Classes", rest)) {
            path = rest;
            return TPlace::Classes;
        }
        path = key.path;
        return TPlace::Machine;
    case TCaptureRoot::CurrentUser:
        if (StartsWithFolder(key.path, "Software\\Classes", rest)) {
            path = rest;
            return TPlace::Classes;
        }
        return TPlace::Skipped;
    case TCaptureRoot::Users: return TPlace::Skipped;
    }
    return TPlace::Skipped;
}

// Values that legitimately differ between computers: a component
// category's descriptions are shared by every server of the category, each
// writing them in its own language and any of them rewriting or removing
// them.
bool Ignored(const std::string& classesPath) {
    std::string rest;
    return StartsWithFolder(classesPath, "Component Categories", rest) && !rest.empty();
}

TMatch CompareValue(const TCapturedValue& expected, const TLiveValue& live, TPathKind kind, bool wow64Server) {
    if (!live.present) return TMatch::Different;
    if (IsString(expected.type) && IsString(live.type)) {
        const std::wstring a = StringOf(expected.type, expected.data), b = StringOf(live.type, live.data);
        if (kind != TPathKind::None) return CompareFileValues(kind, a, b, wow64Server);
        return expected.type == live.type && SameText(a, b) ? TMatch::Equal : TMatch::Different;
    }
    if (expected.type != live.type) return TMatch::Different;
    if (expected.type == REG_MULTI_SZ) return Units(expected.data) == Units(live.data) ? TMatch::Equal : TMatch::Different;
    return expected.data == live.data ? TMatch::Equal : TMatch::Different;
}

std::string ViewSuffix(bool otherView, bool wow64) {
    if (!otherView || !Win64()) return std::string();
    return wow64 ? " (64-bit view)" : " (32-bit view)";
}

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

std::string ValueLabel(const TVerifyDifference& d) {
    if (d.wholeKey) return "the key";
    return d.value.empty() ? "the default value" : Quote(d.value);
}

// True when `path` is `folder` or lies below it.
bool Within(const std::string& path, const std::string& folder) {
    std::string rest;
    return StartsWithFolder(path, folder.c_str(), rest);
}

// Keys Windows keeps apart per registry view (since Windows 7); the other
// classes (TypeLib, AppID, ProgIDs, ...) both views share.
bool SplitKey(const std::string& classesPath) {
    for (const char* top : {"CLSID", "Interface", "DirectShow", "Media Type", "MediaFoundation"}) {
        if (Within(classesPath, top)) return true;
    }
    return false;
}

// The interfaces a type library describes ("Interface\{iid}", each with a
// TypeLib key the capture writes): the type library calls write them into
// both views, so the other bitness's registration of the same library
// leaves them equal in this view too.
std::vector<std::string> TypeLibraryInterfaces(const TCapture& capture) {
    std::vector<std::string> interfaces;
    for (const TCapturedKey& key : capture.keys) {
        std::string path, rest;
        if (key.deleted || PlaceOf(key, path) != TPlace::Classes || !StartsWithFolder(path, "Interface", rest)) {
            continue;
        }
        const size_t cut = rest.find('\\');
        if (cut != std::string::npos && qv::UpperAscii(rest.substr(cut + 1)) == "TYPELIB") {
            interfaces.push_back("Interface\\" + rest.substr(0, cut));
        }
    }
    return interfaces;
}

// The type library interfaces (as TypeLibraryInterfaces names them, each
// with its view) that another registered type library has claimed since:
// an interface declared by several type libraries (msxml3's and msxml6's)
// names the last one registered in its TypeLib key, and its keys are then
// that registration's, not this file's.
std::vector<std::pair<std::string, bool>> ClaimedInterfaces(const TCapture& capture, REGSAM ownView, REGSAM otherView) {
    std::vector<std::pair<std::string, bool>> claimed;
    for (const TCapturedKey& key : capture.keys) {
        std::string path, rest;
        if (key.deleted || PlaceOf(key, path) != TPlace::Classes || !StartsWithFolder(path, "Interface", rest)) continue;
        const size_t cut = rest.find('\\');
        if (cut == std::string::npos || qv::UpperAscii(rest.substr(cut + 1)) != "TYPELIB") continue;
        std::wstring libid, version;
        for (const TCapturedValue& value : key.values) {
            if (value.name.empty()) libid = StringOf(value.type, value.data);
            if (qv::UpperAscii(value.name) == "VERSION") version = StringOf(value.type, value.data);
        }
        const REGSAM view = key.otherView ? otherView : ownView;
        TLiveKey live(HKEY_CLASSES_ROOT, path, view);
        const TLiveValue liveLibid = live.Read(""), liveVersion = live.Read("Version");
        const std::wstring otherLibid = StringOf(liveLibid.type, liveLibid.data);
        const std::wstring otherVersion = StringOf(liveVersion.type, liveVersion.data);
        if (!liveLibid.present || (lstrcmpiW(otherLibid.c_str(), libid.c_str()) == 0 && otherVersion == version)) {
            continue;
        }
        // Claimed only by a type library that is registered.
        if (TLiveKey(HKEY_CLASSES_ROOT, "TypeLib\\" + qv::WideToUtf8(otherLibid) + "\\" + qv::WideToUtf8(otherVersion),
                     view)) {
            claimed.push_back({"Interface\\" + rest.substr(0, cut), key.otherView});
        }
    }
    return claimed;
}

// The key at `index` in the place and view of `keys[index]`, written
// again by a key listed after it: that key itself or one below it.
bool KeyWrittenAgain(const std::vector<TCapturedKey>& keys, size_t index, TPlace place, const std::string& path) {
    for (size_t later = index + 1; later < keys.size(); ++later) {
        std::string laterPath;
        if (keys[later].deleted || keys[later].otherView != keys[index].otherView ||
            PlaceOf(keys[later], laterPath) != place) {
            continue;
        }
        if (Within(laterPath, path)) return true;
    }
    return false;
}

// One captured value against the live key it is read from: nothing when
// it is as the registration leaves it (equal; absent when deleted), the
// difference otherwise. `match` tells how a written value compared.
bool ValueDiffers(const TCapturedValue& value, const TLiveValue& live, TPathKind kind, bool wow64Server,
                  const std::string& shown, TVerifyDifference& d, TMatch& match) {
    d = TVerifyDifference();
    d.key = shown;
    d.value = value.name;
    d.found = live.present ? DataText(live.type, live.data) : std::string();
    if (value.deleted) {
        match = live.present ? TMatch::Different : TMatch::Equal;
        d.kind = TVerifyDifference::TKind::Present;
        return live.present;
    }
    match = CompareValue(value, live, kind, wow64Server);
    d.expected = DataText(value.type, value.data);
    d.kind = !live.present ? TVerifyDifference::TKind::Missing
             : match == TMatch::OtherFile ? TVerifyDifference::TKind::OtherFile
                                          : TVerifyDifference::TKind::Different;
    return match != TMatch::Equal;
}

}  // namespace

const char* VerifyStateText(TVerifyState state) {
    switch (state) {
    case TVerifyState::Registered: return "Registered";
    case TVerifyState::NotRegistered: return "Not registered";
    case TVerifyState::OtherFile: return "Registered to another file";
    case TVerifyState::Partly: return "Partly registered";
    case TVerifyState::UserOverride: return "Overridden for the current user";
    case TVerifyState::UserOnly: return "Registered for this user only";
    case TVerifyState::NotVerified: return "Could not be verified";
    }
    return "Could not be verified";
}

TVerifyResult CompareWithLive(const TCapture& capture) {
    TVerifyResult result;
    result.file = capture.file;
    result.capture = capture.outcome;
    if (!capture.clean) {
        result.state = TVerifyState::NotVerified;
        if (result.capture.message.empty()) result.capture.message = "The capture failed.";
        return result;
    }
    const REGSAM ownView = capture.wow64 ? KEY_WOW64_32KEY : (Win64() ? KEY_WOW64_64KEY : 0);
    const REGSAM otherView = capture.wow64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    const std::vector<std::string> typeLibInterfaces = TypeLibraryInterfaces(capture);
    const std::vector<std::pair<std::string, bool>> claimed = ClaimedInterfaces(capture, ownView, otherView);
    // Written values present (equal or not), and of those the file's own:
    // the values of its view's split keys, which the other bitness's
    // registration does not write.
    std::size_t present = 0, own = 0, ownPresent = 0;
    bool userOverride = false;
    // The keys read from the current user's classes, for a registration
    // found complete there.
    std::vector<bool> readFromUser(capture.keys.size(), false);
    for (size_t index = 0; index < capture.keys.size(); ++index) {
        const TCapturedKey& key = capture.keys[index];
        std::string path;
        const TPlace place = PlaceOf(key, path);
        if (place == TPlace::Skipped || (place == TPlace::Classes && Ignored(path))) continue;
        // A key deleted and written again is compared as written.
        if (key.deleted && KeyWrittenAgain(capture.keys, index, place, path)) continue;
        bool claimedKey = false;
        for (const auto& iface : claimed) {
            claimedKey = claimedKey || (place == TPlace::Classes && iface.second == key.otherView && Within(path, iface.first));
        }
        if (claimedKey) continue;
        const REGSAM view = key.otherView ? otherView : ownView;
        const std::string suffix = ViewSuffix(key.otherView, capture.wow64);
        bool ownKey = place == TPlace::Classes && !key.otherView && SplitKey(path);
        for (const std::string& iface : typeLibInterfaces) ownKey = ownKey && !Within(path, iface);
        // Each key is opened once: the current user's, which hides the
        // machine's whole key of that name; the machine's when the user has
        // none, or, to tell an override, when the user's differs.
        TLiveKey user, machine;
        bool machineOpened = false;
        auto openMachine = [&] {
            if (machineOpened) return;
            machineOpened = true;
            machine = place == TPlace::Classes ? TLiveKey(HKEY_LOCAL_MACHINE, "Software\\Classes\\" + path, view)
                                               : TLiveKey(HKEY_LOCAL_MACHINE, path, view);
        };
        if (place == TPlace::Classes) user = TLiveKey(HKEY_CURRENT_USER, "Software\\Classes\\" + path, view);
        if (!user) openMachine();
        readFromUser[index] = user && !key.deleted;
        const std::string shown =
            (user ? "HKEY_CURRENT_USER\\Software\\Classes\\"
                  : place == TPlace::Classes ? "HKEY_CLASSES_ROOT\\" : "HKEY_LOCAL_MACHINE\\") +
            path + suffix;
        if (key.values.empty() || key.deleted) {
            // A key without values counts by its existence (Programmable,
            // Implemented Categories\{...}); a deleted key by its absence.
            ++result.compared;
            const bool exists = user || machine;
            if (exists && !key.deleted) {
                ++present;
                if (ownKey) ++ownPresent;
            }
            if (!key.deleted && ownKey) ++own;
            if (exists != key.deleted) {
                ++result.equal;
            } else {
                TVerifyDifference d;
                d.key = shown;
                d.wholeKey = true;
                d.kind = key.deleted ? TVerifyDifference::TKind::Present : TVerifyDifference::TKind::Missing;
                result.differences.push_back(std::move(d));
            }
            continue;
        }
        const TLiveKey& read = user ? user : machine;
        for (const TCapturedValue& value : key.values) {
            ++result.compared;
            if (!value.deleted && ownKey) ++own;
            const TPathKind kind = place == TPlace::Classes ? PathKindOf(path, value.name) : TPathKind::None;
            const TLiveValue live = read.Read(value.name);
            TVerifyDifference d;
            TMatch match;
            const bool differs = ValueDiffers(value, live, kind, capture.wow64, shown, d, match);
            if (live.present && !value.deleted) {
                ++present;
                if (ownKey) ++ownPresent;
            }
            if (!differs) {
                ++result.equal;
                continue;
            }
            if (user && !value.deleted) {
                openMachine();
                const TLiveValue hidden = machine.Read(value.name);
                if (machine && !(hidden.present == live.present && hidden.type == live.type && hidden.data == live.data)) {
                    d.kind = TVerifyDifference::TKind::UserOverride;
                    d.machine = hidden.present ? DataText(hidden.type, hidden.data) : std::string();
                    d.machinePresent = hidden.present;
                    if (!live.present) {
                        // The user's key is there, and hides the value.
                        ++present;
                        if (ownKey) ++ownPresent;
                    }
                    userOverride = true;
                }
            }
            // A class's server or a type library's file that is another
            // file (not merely other arguments or another resource).
            if (d.kind == TVerifyDifference::TKind::OtherFile && result.otherFile.empty()) {
                result.otherFile = qv::WideToUtf8(SplitFileValue(kind, StringOf(live.type, live.data)).file);
            }
            result.differences.push_back(std::move(d));
        }
    }
    // One state, the first that holds: complete, read in part from the
    // current user's classes, or from the machine's alone; none of the
    // file's own values present (values other registrations share, as a
    // type library's of the other bitness, decide nothing alone), or
    // nothing present when it has no own values; a per-user key that hides
    // the machine's (registering again for the machine would not change
    // what the user's clients see); classes or a type library that name
    // another file; some values missing or different.
    bool otherFile = false;
    for (const TVerifyDifference& d : result.differences) otherFile = otherFile || d.kind == TVerifyDifference::TKind::OtherFile;
    const bool fromUser = std::find(readFromUser.begin(), readFromUser.end(), true) != readFromUser.end();
    if (result.differences.empty()) {
        result.state = fromUser ? TVerifyState::UserOnly : TVerifyState::Registered;
    } else if (own > 0 ? ownPresent == 0 : present == 0) {
        result.state = TVerifyState::NotRegistered;
    } else if (userOverride) {
        result.state = TVerifyState::UserOverride;
    } else if (otherFile) {
        result.state = TVerifyState::OtherFile;
    } else {
        result.state = TVerifyState::Partly;
    }
    if (result.state != TVerifyState::UserOnly) return result;
    // What the machine's classes hold for the keys the user's hide: what
    // elevated programs and other users read instead.
    bool sameFile = false, machineOtherFile = false;
    for (size_t index = 0; index < capture.keys.size(); ++index) {
        if (!readFromUser[index]) continue;
        const TCapturedKey& key = capture.keys[index];
        std::string path;
        PlaceOf(key, path);
        const TLiveKey machine(HKEY_LOCAL_MACHINE, "Software\\Classes\\" + path, key.otherView ? otherView : ownView);
        const std::string shown =
            "HKEY_LOCAL_MACHINE\\Software\\Classes\\" + path + ViewSuffix(key.otherView, capture.wow64);
        if (key.values.empty()) {
            if (machine) continue;
            TVerifyDifference d;
            d.key = shown;
            d.wholeKey = true;
            result.machineDifferences.push_back(std::move(d));
            continue;
        }
        for (const TCapturedValue& value : key.values) {
            const TPathKind kind = PathKindOf(path, value.name);
            const TLiveValue live = machine.Read(value.name);
            TVerifyDifference d;
            TMatch match;
            const bool names = !value.deleted && kind != TPathKind::None && kind != TPathKind::Folder;
            if (!ValueDiffers(value, live, kind, capture.wow64, shown, d, match)) {
                sameFile = sameFile || names;
                continue;
            }
            if (names && match == TMatch::OtherFile && !machineOtherFile) {
                machineOtherFile = true;
                result.otherFile = qv::WideToUtf8(SplitFileValue(kind, StringOf(live.type, live.data)).file);
            }
            result.machineDifferences.push_back(std::move(d));
        }
    }
    if (machineOtherFile) {
        result.machine = TMachineClasses::OtherFile;
    } else if (sameFile || result.machineDifferences.empty()) {
        result.machine = TMachineClasses::SameFile;
    }
    return result;
}

TVerifyResult VerifyFile(const std::string& path, const TRegContext& context) {
    TVerifyResult result = CompareWithLive(CaptureFile(path, context));
    result.file = path;
    return result;
}

std::string TVerifyResult::Message() const {
    const std::string name = "'" + ExtractFileName(file) + "'";
    switch (state) {
    case TVerifyState::Registered: return name + " is registered.";
    case TVerifyState::NotRegistered: return name + " is not registered.";
    case TVerifyState::OtherFile: return name + " is registered to another file: '" + otherFile + "'.";
    case TVerifyState::Partly:
        return name + " is partly registered: " + std::to_string(equal) + " of " + std::to_string(compared) +
               " values are present and equal.";
    case TVerifyState::UserOverride:
        return name + " is overridden for the current user: keys under HKEY_CURRENT_USER\\Software\\Classes hide "
                      "its registration.";
    case TVerifyState::UserOnly:
        switch (machine) {
        case TMachineClasses::Lacking:
            return name + " is registered for this user only: the machine's classes lack its registration.";
        case TMachineClasses::SameFile:
            return name + " is registered for this user only; the machine's classes name the same file.";
        case TMachineClasses::OtherFile:
            return name + " is registered for this user only; the machine's classes name another file: '" + otherFile +
                   "'.";
        }
        break;
    case TVerifyState::NotVerified: break;
    }
    return name + " could not be verified: " + capture.message;
}

TVerifyResult::TVerdict TVerifyResult::Verdict() const {
    switch (state) {
    case TVerifyState::Registered: return TVerdict::Holds;
    case TVerifyState::UserOnly: return machine == TMachineClasses::OtherFile ? TVerdict::Fails : TVerdict::Holds;
    case TVerifyState::NotVerified: return TVerdict::Unknown;
    default: return TVerdict::Fails;
    }
}

namespace {

// The differences, one per line, after `out`.
void AddDifferenceLines(std::string& out, const std::vector<TVerifyDifference>& differences) {
    for (const TVerifyDifference& d : differences) {
        if (!out.empty()) out += "\n";
        out += d.key + ": ";
        const std::string label = ValueLabel(d);
        switch (d.kind) {
        case TVerifyDifference::TKind::Missing:
            out += label + " is missing" + (d.wholeKey ? "." : "; expected " + Quote(d.expected) + ".");
            break;
        case TVerifyDifference::TKind::Different:
            out += label + " is " + Quote(d.found) + "; expected " + Quote(d.expected) + ".";
            break;
        case TVerifyDifference::TKind::OtherFile:
            out += label + " names another file: " + Quote(d.found) + "; expected " + Quote(d.expected) + ".";
            break;
        case TVerifyDifference::TKind::UserOverride:
            out += label + (d.found.empty() ? std::string(" is missing for the current user")
                                           : " is " + Quote(d.found) + " for the current user") +
                   (d.machinePresent ? ", hiding the machine's " + Quote(d.machine) : std::string(", which the machine lacks")) +
                   "; expected " + Quote(d.expected) + ".";
            break;
        case TVerifyDifference::TKind::Present:
            out += label + " is present" + (d.wholeKey ? std::string() : " (" + Quote(d.found) + ")") +
                   "; the registration deletes it.";
            break;
        }
    }
}

}  // namespace

std::string TVerifyResult::Details() const {
    if (state == TVerifyState::NotVerified) return capture.details;
    std::string out;
    if (state == TVerifyState::UserOnly) {
        switch (machine) {
        case TMachineClasses::Lacking:
            out = "The registration is in the current user's classes (HKEY_CURRENT_USER\\Software\\Classes) alone: "
                  "the machine's classes (HKEY_LOCAL_MACHINE\\Software\\Classes), which programs that run elevated "
                  "and other users read, lack it.";
            break;
        case TMachineClasses::SameFile:
            out = "The current user's classes (HKEY_CURRENT_USER\\Software\\Classes) hide the machine's "
                  "(HKEY_LOCAL_MACHINE\\Software\\Classes), which name the same file: programs that run elevated and "
                  "other users load it too.";
            break;
        case TMachineClasses::OtherFile:
            out = "The current user's classes (HKEY_CURRENT_USER\\Software\\Classes) hide the machine's "
                  "(HKEY_LOCAL_MACHINE\\Software\\Classes), which name another file, " + Quote(otherFile) +
                  ": programs that run elevated and other users load that one.";
            break;
        }
        AddDifferenceLines(out, machineDifferences);
        return out;
    }
    AddDifferenceLines(out, differences);
    return out;
}

namespace {

const char* StateToken(TVerifyState state) {
    switch (state) {
    case TVerifyState::Registered: return "registered";
    case TVerifyState::NotRegistered: return "not registered";
    case TVerifyState::OtherFile: return "other file";
    case TVerifyState::Partly: return "partly";
    case TVerifyState::UserOverride: return "user override";
    case TVerifyState::UserOnly: return "user only";
    case TVerifyState::NotVerified: return "not verified";
    }
    return "not verified";
}

const char* KindToken(TVerifyDifference::TKind kind) {
    switch (kind) {
    case TVerifyDifference::TKind::Missing: return "missing";
    case TVerifyDifference::TKind::Different: return "different";
    case TVerifyDifference::TKind::OtherFile: return "other file";
    case TVerifyDifference::TKind::UserOverride: return "user override";
    case TVerifyDifference::TKind::Present: return "present";
    }
    return "different";
}

const char* MachineToken(TMachineClasses machine) {
    switch (machine) {
    case TMachineClasses::Lacking: return "lacking";
    case TMachineClasses::SameFile: return "same file";
    case TMachineClasses::OtherFile: return "other file";
    }
    return "lacking";
}

std::string DifferencesJson(const std::vector<TVerifyDifference>& differences) {
    std::string out = "[";
    for (size_t i = 0; i < differences.size(); ++i) {
        const TVerifyDifference& d = differences[i];
        if (i) out += ',';
        out += "{\"kind\":\"" + std::string(KindToken(d.kind)) + "\",\"key\":" + qv::JsonQuoted(d.key);
        if (!d.wholeKey) {
            out += ",\"value\":" + qv::JsonQuoted(d.value) + ",\"expected\":" + qv::JsonQuoted(d.expected) +
                   ",\"found\":" + qv::JsonQuoted(d.found);
        }
        if (d.kind == TVerifyDifference::TKind::UserOverride) {
            out += ",\"machine\":" + (d.machinePresent ? qv::JsonQuoted(d.machine) : std::string("null"));
        }
        out += '}';
    }
    return out + "]";
}

}  // namespace

std::string VerifyJson(const TVerifyResult& result) {
    std::string out = "{\"file\":" + qv::JsonQuoted(result.file) + ",\"state\":\"" + StateToken(result.state) +
                      "\",\"message\":" + qv::JsonQuoted(result.Message()) +
                      ",\"compared\":" + std::to_string(result.compared) + ",\"equal\":" + std::to_string(result.equal) +
                      ",\"otherFile\":" + qv::JsonQuoted(result.otherFile) +
                      ",\"differences\":" + DifferencesJson(result.differences);
    if (result.state == TVerifyState::UserOnly) {
        out += ",\"machineClasses\":\"" + std::string(MachineToken(result.machine)) +
               "\",\"machineDifferences\":" + DifferencesJson(result.machineDifferences);
    }
    if (result.state == TVerifyState::NotVerified) out += ",\"reason\":" + qv::JsonQuoted(result.Details());
    return out + "}";
}

}  // namespace engine
