#include "engine/uCapture.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <iterator>
#include <map>
#include <optional>
#include <set>

#include "common/QVCodePage.h"
#include "common/QVStrings.h"
#include "engine/uHelper.h"
#include "engine/uRegIntercept.h"

namespace engine {

namespace {

// ---------------------------------------------------------------------------
// Reading a tree of keys.

struct TRawValue {
    std::wstring name;
    DWORD type;
    std::string data;
};
// Key path below the tree's top ("" for the top itself) -> its values.
using TTree = std::map<std::wstring, std::vector<TRawValue>>;

// How ReadTree reads a tree, beyond its keys and values.
struct TReadOptions {
    bool complete = true;  // cleared when any part could not be read
    // Keys not read (nor the keys below them): their paths go to `skipped`.
    const std::set<std::wstring>* skip = nullptr;
    std::vector<std::wstring> skipped;
    // When given, the subkeys' handles are left open here, for the caller
    // to close when time matters less.
    std::vector<HKEY>* opened = nullptr;
};

void ReadTree(HKEY key, const std::wstring& path, TTree& tree, TReadOptions& options) {
    std::vector<TRawValue>& values = tree[path];
    DWORD subkeys = 0, maxSubkey = 0, count = 0, maxName = 0, maxData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &count, &maxName, &maxData,
                         nullptr, nullptr) != ERROR_SUCCESS) {
        options.complete = false;
        return;
    }
    bool& whole = options.complete;
    std::vector<wchar_t> name(maxName + 2);
    std::vector<BYTE> data(maxData + 2);
    for (DWORD i = 0; i < count; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size()), dataSize = static_cast<DWORD>(data.size()), type = 0;
        if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize) != ERROR_SUCCESS) {
            whole = false;
            continue;
        }
        values.push_back(TRawValue{std::wstring(name.data(), nameLength), type,
                                   std::string(reinterpret_cast<const char*>(data.data()), dataSize)});
    }
    std::vector<wchar_t> subName(maxSubkey + 2);
    for (DWORD i = 0; i < subkeys; ++i) {
        DWORD length = static_cast<DWORD>(subName.size());
        if (RegEnumKeyExW(key, i, subName.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            whole = false;
            continue;
        }
        const std::wstring child(subName.data(), length);
        const std::wstring childPath = path.empty() ? child : path + L"\\" + child;
        if (options.skip && options.skip->count(childPath)) {
            options.skipped.push_back(childPath);
            continue;
        }
        HKEY sub = nullptr;
        if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS) {
            whole = false;
            continue;
        }
        ReadTree(sub, childPath, tree, options);
        if (options.opened) {
            options.opened->push_back(sub);
        } else {
            RegCloseKey(sub);
        }
    }
}

void ReadTree(HKEY key, TTree& tree) {
    TReadOptions options;
    ReadTree(key, L"", tree, options);
}

// The names of a key's direct subkeys.
std::set<std::wstring> SubkeyNames(HKEY key) {
    std::set<std::wstring> names;
    wchar_t name[512];
    for (DWORD i = 0;; ++i) {
        DWORD length = 512;
        LONG result = RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result == ERROR_SUCCESS) names.insert(std::wstring(name, length));
    }
    return names;
}

// ---------------------------------------------------------------------------
// The scratch keys.

HKEY const kPredefined[4] = {HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS};
const wchar_t* const kScratchNames[4] = {L"HKCR", L"HKLM", L"HKCU", L"HKU"};
// The roots that stand for the other registry view, where a write meant for
// it is made instead (see uRegIntercept).
const wchar_t* const kScratchOtherNames[4] = {L"HKCR (other view)", L"HKLM (other view)", L"HKCU (other view)",
                                              L"HKU (other view)"};
const char* const kRootNames[4] = {"HKEY_CLASSES_ROOT", "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS"};
const wchar_t kScratchParent[] = L"Software\\Quorvandel\\Corvantis Capture";
// A value each scratch root holds while the capture runs: found through the
// predefined key afterwards, it shows that the redirection still stands.
const wchar_t kCanary[] = L"Corvantis Capture Canary";

// The canary as each root holds it: a REG_DWORD 1.
const TRawValue& Canary() {
    static const DWORD one = 1;
    static const TRawValue canary{kCanary, REG_DWORD, std::string(reinterpret_cast<const char*>(&one), sizeof one)};
    return canary;
}

// Classes that registrations use while they work: the component categories
// manager and the ATL registrar. Copied from the live registry when present.
const wchar_t* const kSeedClasses[] = {
    L"CLSID\\{0002E005-0000-0000-C000-000000000046}",
    L"CLSID\\{44EC053A-400F-11D0-9DCD-00A0C90391D3}",
};

// The live keys watched for names written there past the capture: (root,
// path, name shown). The top of HKEY_CLASSES_ROOT is
// watched as the machine's classes, where its new names go unless the
// user's classes (watched too) hold them: a handle opened from
// HKEY_CLASSES_ROOT itself may be the very one RegOverridePredefKey
// replaces (Wine closes it, which fires its notification).
struct TWatched {
    HKEY root;
    const wchar_t* path;
    const char* shown;
};
const TWatched kWatched[] = {
    {HKEY_LOCAL_MACHINE, L"Software\\Classes", "HKEY_CLASSES_ROOT"},
    {HKEY_CLASSES_ROOT, L"CLSID", "HKEY_CLASSES_ROOT\\CLSID"},
    {HKEY_CLASSES_ROOT, L"Interface", "HKEY_CLASSES_ROOT\\Interface"},
    {HKEY_CLASSES_ROOT, L"TypeLib", "HKEY_CLASSES_ROOT\\TypeLib"},
    {HKEY_CLASSES_ROOT, L"AppID", "HKEY_CLASSES_ROOT\\AppID"},
    {HKEY_LOCAL_MACHINE, L"Software", "HKEY_LOCAL_MACHINE\\Software"},
    {HKEY_CURRENT_USER, L"Software", "HKEY_CURRENT_USER\\Software"},
    {HKEY_CURRENT_USER, L"Software\\Classes", "HKEY_CURRENT_USER\\Software\\Classes"},
};
const size_t kWatchedCount = sizeof kWatched / sizeof kWatched[0];
const REGSAM kViews[2] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};

using TOaEnable = HRESULT(WINAPI*)(void);

// Notification events polled together. A wait reports the first signalled
// event of those it is given, so the events before it are not: the next
// wait starts after it, and one that ends the list ends the poll. Each sets
// its flag when it is signalled (or when the wait fails).
class TPoll {
public:
    void Add(HANDLE event, bool* fired) {
        if (count_ == kMost) {
            *fired = true;
            return;
        }
        events_[count_] = event;
        fired_[count_++] = fired;
    }

    void Run() {
        for (DWORD from = 0; from < count_;) {
            const DWORD result = WaitForMultipleObjects(count_ - from, events_ + from, FALSE, 0);
            if (result == WAIT_TIMEOUT) break;
            if (result >= WAIT_OBJECT_0 + count_ - from) {
                for (DWORD k = from; k < count_; ++k) *fired_[k] = true;
                break;
            }
            const DWORD k = from + (result - WAIT_OBJECT_0);
            *fired_[k] = true;
            from = k + 1;
        }
        count_ = 0;
    }

private:
    static const DWORD kMost = MAXIMUM_WAIT_OBJECTS;
    HANDLE events_[kMost];
    bool* fired_[kMost];
    DWORD count_ = 0;
};

// The watched live keys of both views, open for the life of the process
// with the names of their subkeys. Reading their thousands of names before
// and after every capture would cost far more than the registration; so
// each key carries a change notification (RegNotifyChangeKeyValue with
// REG_NOTIFY_CHANGE_NAME: the change itself signals its event when a subkey
// is added or deleted), and its names are read again only when its event
// was signalled. A key whose notification cannot be set is read every time.
class TLiveWatch {
public:
    static TLiveWatch& Instance() {
        static TLiveWatch watch;
        return watch;
    }

    struct TFired {
        bool at[2][kWatchedCount] = {};
    };

    // Brings every key's names up to date, before the server runs: a key
    // that may have changed (`fired`, as polled just before) is armed again
    // on this thread, which runs the server, then read. Several keys (the
    // first time, all of them: thousands of names) are read by several
    // threads at once: each name costs a round trip to the registry, and
    // the trips overlap.
    void Refresh(const TFired& fired) {
        std::vector<TOne*> stale;
        for (int v = 0; v < 2; ++v) {
            for (size_t i = 0; i < kWatchedCount; ++i) {
                TOne& one = one_[v][i];
                if (!one.key && !Open(v, i)) continue;
                if (one.armed && !fired.at[v][i]) continue;
                one.armed = false;
                if (one.changed) {
                    ResetEvent(one.changed);
                    one.armed = RegNotifyChangeKeyValue(one.key, FALSE, REG_NOTIFY_CHANGE_NAME, one.changed, TRUE) ==
                                ERROR_SUCCESS;
                }
                stale.push_back(&one);
            }
        }
        if (stale.size() < 2) {
            for (TOne* one : stale) one->names = SubkeyNames(one->key);
            return;
        }
        // Each thread, this one too, takes the next key not taken.
        TReading reading{stale, -1};
        HANDLE threads[3];
        DWORD started = 0;
        for (; started < 3 && started + 1 < stale.size(); ++started) {
            threads[started] = CreateThread(nullptr, 64 << 10, ReadNames, &reading, 0, nullptr);
            if (!threads[started]) break;
        }
        ReadNames(&reading);
        if (started) WaitForMultipleObjects(started, threads, TRUE, INFINITE);
        for (DWORD t = 0; t < started; ++t) CloseHandle(threads[t]);
    }

    HKEY Key(int v, size_t i) const { return one_[v][i].key; }
    const std::set<std::wstring>& Names(int v, size_t i) const { return one_[v][i].names; }

    // False only when no subkey can have been added or deleted since the
    // last Refresh: its notification is armed and has not fired.
    bool MayHaveChanged(int v, size_t i, const TFired& fired) const { return !one_[v][i].armed || fired.at[v][i]; }

    // Adds the open keys' notifications to `poll`, which marks in `fired`
    // those that have fired; keys not armed count as fired.
    void AddTo(TPoll& poll, TFired& fired) const {
        for (int v = 0; v < 2; ++v) {
            for (size_t i = 0; i < kWatchedCount; ++i) {
                const TOne& one = one_[v][i];
                fired.at[v][i] = one.key && !one.armed;
                if (one.key && one.armed) poll.Add(one.changed, &fired.at[v][i]);
            }
        }
    }

private:
    struct TOne {
        HKEY key = nullptr;
        HANDLE changed = nullptr;  // manual-reset event of the notification
        bool armed = false;
        std::set<std::wstring> names;
    };

    struct TReading {
        std::vector<TOne*>& stale;
        volatile LONG next;  // the last key taken
    };

    static DWORD WINAPI ReadNames(void* parameter) {
        TReading& reading = *static_cast<TReading*>(parameter);
        TInterceptExempt own;
        for (LONG k; (k = InterlockedIncrement(&reading.next)) < static_cast<LONG>(reading.stale.size());) {
            reading.stale[k]->names = SubkeyNames(reading.stale[k]->key);
        }
        return 0;
    }

    // Opened while nothing is redirected: the live keys.
    bool Open(int v, size_t i) {
        TOne& one = one_[v][i];
        if (RegOpenKeyExW(kWatched[i].root, kWatched[i].path, 0, KEY_READ | kViews[v], &one.key) != ERROR_SUCCESS) {
            one.key = nullptr;
            return false;
        }
        one.changed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        return true;
    }

    TOne one_[2][kWatchedCount];
};

// The live machine's software keys and the user's classes, each watched with
// its whole subtree for any change (values too): a change while a server
// registers, in a key its capture holds, is found by the keys' last write
// times. Only when a watch fired are the keys looked at, which is rare:
// the interception keeps the helper's own writes from the live registry,
// so what fires it is another program, or a write that passed the
// interception.
class TValueWatch {
public:
    static TValueWatch& Instance() {
        static TValueWatch watch;
        return watch;
    }

    // Arms every watch that is not armed (or fired since), on this thread,
    // which runs the server, and notes the time.
    void Arm() {
        GetSystemTimeAsFileTime(&start_);
        for (TOne& one : one_) {
            if (one.armed && WaitForSingleObject(one.changed, 0) == WAIT_TIMEOUT) continue;
            if (!one.key && !Open(one)) continue;
            ResetEvent(one.changed);
            one.armed = RegNotifyChangeKeyValue(one.key, TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                                one.changed, TRUE) == ERROR_SUCCESS;
        }
    }

    // The keys of `keys` that changed in the live registry since Arm, full
    // names, when a watch fired (or could not be armed).
    std::vector<std::string> Changed(const std::vector<TCapturedKey>& keys, bool wow64) const {
        std::vector<std::string> changed;
        bool fired = false;
        for (const TOne& one : one_) fired = fired || !one.armed || WaitForSingleObject(one.changed, 0) != WAIT_TIMEOUT;
        if (!fired) return changed;
        // The live keys are opened through the watched keys' handles, opened
        // before anything was redirected: the redirection may still stand.
        const int own = wow64 || sizeof(void*) == 4 ? 0 : 1;
        const REGSAM views[2] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};
        const TLiveWatch& watch = TLiveWatch::Instance();
        for (const TCapturedKey& key : keys) {
            if (key.deleted) continue;
            const int v = key.otherView ? 1 - own : own;
            // (watched key, path below it) pairs where the key stands live.
            std::vector<std::pair<size_t, std::string>> live;
            switch (key.root) {
            case TCaptureRoot::ClassesRoot:
                live.push_back({0, key.path});
                live.push_back({7, key.path});
                break;
            case TCaptureRoot::LocalMachine: BelowSoftware(key.path, 0, 5, live); break;
            case TCaptureRoot::CurrentUser: BelowSoftware(key.path, 7, 6, live); break;
            default: break;
            }
            for (const auto& where : live) {
                HKEY parent = watch.Key(v, where.first);
                HKEY opened = nullptr;
                if (!parent || where.second.empty() ||
                    RegOpenKeyExW(parent, qv::Utf8ToWide(where.second).c_str(), 0, KEY_QUERY_VALUE | views[v],
                                  &opened) != ERROR_SUCCESS) {
                    continue;
                }
                FILETIME written{};
                const bool later = RegQueryInfoKeyW(opened, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                    nullptr, nullptr, nullptr, nullptr, &written) == ERROR_SUCCESS &&
                                   CompareFileTime(&written, &start_) > 0;
                RegCloseKey(opened);
                if (!later) continue;
                const TWatched& top = kWatched[where.first];
                std::string name = (top.root == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE\\" : "HKEY_CURRENT_USER\\") +
                                   qv::WideToUtf8(top.path) + "\\" + where.second;
                if (key.otherView) name += wow64 ? " (64-bit view)" : " (32-bit view)";
                changed.push_back(name);
            }
        }
        return changed;
    }

private:
    struct TOne {
        HKEY root;
        const wchar_t* path;
        HKEY key = nullptr;
        HANDLE changed = nullptr;
        bool armed = false;
    };

    // A root's key below Software: under the watched classes key
    // (`classes`) or the watched Software key (`software`).
    static void BelowSoftware(const std::string& path, size_t classes, size_t software,
                              std::vector<std::pair<size_t, std::string>>& live) {
        std::string rest;
        if (StartsWithFolder(path, "Software\\Classes", rest)) {
            live.push_back({classes, rest});
        } else if (StartsWithFolder(path, "Software", rest)) {
            live.push_back({software, rest});
        }
    }

    // Opened while nothing is redirected: the live keys. HKEY_LOCAL_MACHINE's
    // Software in the 64-bit view holds the 32-bit view's keys below it.
    static bool Open(TOne& one) {
        BOOL wow64 = FALSE;
        const REGSAM view = sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64)
                                ? KEY_WOW64_64KEY
                                : 0;
        if (RegOpenKeyExW(one.root, one.path, 0, KEY_NOTIFY | view, &one.key) != ERROR_SUCCESS) {
            one.key = nullptr;
            return false;
        }
        one.changed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        return one.changed != nullptr;
    }

    TOne one_[2] = {{HKEY_LOCAL_MACHINE, L"Software"}, {HKEY_CURRENT_USER, L"Software\\Classes"}};
    FILETIME start_{};
};

// Adds `path` to the tree with every key above it (the tree's top is "").
void AddWithParents(TTree& tree, const std::wstring& path, const std::vector<TRawValue>& values = {}) {
    tree[L""];
    for (size_t cut = path.find(L'\\'); cut != std::wstring::npos; cut = path.find(L'\\', cut + 1)) {
        tree[path.substr(0, cut)];
    }
    tree[path] = values;
}

// What every capture's scratch keys hold before the server runs, read from
// the live registry once per process: a canary under each root, the seed
// classes as the live registry has them, and Software\Classes under the
// machine's and the user's roots. Written from memory each time, the seed
// needs no reading back.
const TTree* SeedTrees() {
    static TTree trees[4];
    static bool made = false;
    if (made) return trees;
    made = true;
    for (TTree& tree : trees) tree[L""];
    for (const wchar_t* seed : kSeedClasses) {
        HKEY live = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, seed, 0, KEY_READ, &live) != ERROR_SUCCESS) continue;
        TTree copy;
        ReadTree(live, copy);
        RegCloseKey(live);
        for (const auto& entry : copy) {
            AddWithParents(trees[0], entry.first.empty() ? std::wstring(seed) : std::wstring(seed) + L"\\" + entry.first,
                           entry.second);
        }
    }
    for (int i : {1, 2}) AddWithParents(trees[i], L"Software\\Classes");
    return trees;
}

// The process's scratch keys and the redirection to them. They are made and
// seeded at the first capture and kept for the life of the process: after
// each capture every root the server wrote to is put back to exactly its
// seed (what the server added is deleted, seed values it changed or deleted
// are written again), so every capture starts from the seed without the
// cost of creating, seeding and deleting the keys each time. What the
// server added is known from the record, so a root is read only when the
// server wrote its seed keys or the record does not explain what the root
// holds (NoteWrites, Explained). The other view's roots, which have no
// seed, are emptied. A root that
// cannot be put back is given up: the whole set is deleted and the next
// capture makes a fresh one. Remove deletes them; the process does so before
// it ends (a helper that crashed leaves them to the next capture's removal
// of stale keys, or to the program, which deletes the keys of a helper it
// stopped).
class TScratch {
public:
    static TScratch& Instance() {
        static TScratch scratch;
        return scratch;
    }
    ~TScratch() { Remove(); }
    TScratch(const TScratch&) = delete;
    TScratch& operator=(const TScratch&) = delete;

    // Readies a capture before the server is loaded: the redirection of a
    // capture nobody settled ended; the keys made and seeded when there are
    // none, or when the last capture could not put them back; the live keys
    // armed to tell whether anything is written past the redirection from
    // now on. The keys themselves are readied as the redirection starts
    // (see Redirect), so that putting the last capture's keys back may go on
    // meanwhile. False when the keys could not be made.
    bool Prepare() {
        WaitRestored();
        Restore();
        // Keys the thread still puts back are checked as the redirection
        // starts.
        if (made_ && !InterlockedCompareExchange(&pending_, 0, 0) && !ok_) Remove();
        if (!made_) {
            if (!removedStale_) RemoveStale(0);
            removedStale_ = true;
            Make();
            if (!ok_) {
                Remove();
                return false;
            }
        }
        // Both registry views: the system's own code may write the other one
        // (a 32-bit process's type library registration mirrors its
        // interfaces into the 64-bit view) past any redirection.
        TPoll poll;
        TLiveWatch::TFired live;
        TLiveWatch::Instance().AddTo(poll, live);
        poll.Run();
        TLiveWatch::Instance().Refresh(live);
        TValueWatch::Instance().Arm();
        return true;
    }

    // False when the keys the capture was redirected to did not hold their
    // seed: its keys cannot be told from what was there.
    bool StartedFromSeed() const { return fromSeed_; }


    // Which scratch roots and seed classes were written, for Difference, and
    // which watched live keys may have changed (`live`), in one poll.
    void Poll(TLiveWatch::TFired& live) {
        TPoll poll;
        TLiveWatch::Instance().AddTo(poll, live);
        AddTo(poll);
        poll.Run();
    }

    // Ends the redirection and puts every root the capture wrote to (as
    // Difference read it) back to its seed, and arms it again. A root that
    // cannot be put back gives up the whole set.
    void Settle() {
        Join();
        Restore();
        PutBackRead();
        if (made_ && !ok_) Remove();
    }

    // Settle, done by a thread of this process's own while the program
    // reads the reply and the next server loads: the next capture waits for
    // the redirection to end before it loads its server (WaitRestored), and
    // for the keys to be put back before it redirects (Join).
    void SettleSoon() {
        Join();
        if (!made_ || !ok_ || !StartWorker()) {
            Settle();
            return;
        }
        InterlockedExchange(&restoring_, redirected_ ? 1 : 0);
        Hand([this] {
            if (InterlockedCompareExchange(&restoring_, 0, 0)) {
                Restore();
                InterlockedExchange(&restoring_, 0);
                SetEvent(restored_);
            }
            PutBackRead();
        });
    }

    // Waits until a settle's thread has ended the redirection.
    void WaitRestored() {
        while (InterlockedCompareExchange(&restoring_, 0, 0)) WaitForSingleObject(restored_, INFINITE);
    }

    // Deletes the keys and the parents no other process uses; the next
    // capture makes them afresh.
    void Remove() {
        Join();
        Restore();
        CloseOpened();
        if (!made_) return;
        made_ = false;
        for (TSealed& sealed : sealed_) {
            if (sealed.key) RegCloseKey(sealed.key);
            sealed.key = nullptr;
            sealed.armed = false;
        }
        for (int i = 0; i < 4; ++i) {
            if (others_[i]) RegCloseKey(others_[i]);
            others_[i] = nullptr;
            if (!keys_[i]) continue;
            RegCloseKey(keys_[i]);
            keys_[i] = nullptr;
        }
        RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, base_.c_str());
        // The parent goes when no other capture uses it (it fails otherwise).
        RegDeleteKeyW(HKEY_CURRENT_USER, kScratchParent);
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Quorvandel");
    }

    // Scratch keys of processes that ended while they captured (a server
    // that faulted on a thread of its own, a time-out, a process killed):
    // named "<pid>-<creation time>-<n>", they are deleted once no process
    // of that id and creation time runs (a process id is reused, its
    // creation time is not); with `only`, those of that process alone,
    // which has ended.
    static void RemoveStale(DWORD only) {
        HKEY parent = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kScratchParent, 0, KEY_ALL_ACCESS, &parent) != ERROR_SUCCESS) return;
        const std::wstring own = ScratchName(GetCurrentProcessId(), CreationOf(GetCurrentProcess())) + L"-";
        for (const std::wstring& name : SubkeyNames(parent)) {
            if (name.compare(0, own.size(), own) == 0) continue;
            wchar_t* end = nullptr;
            const DWORD pid = static_cast<DWORD>(std::wcstoul(name.c_str(), &end, 10));
            if (only && pid != only) continue;
            if (!only) {
                const unsigned long long created = *end == L'-' ? std::wcstoull(end + 1, nullptr, 16) : 0;
                HANDLE process = pid ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid) : nullptr;
                const bool running = process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT &&
                                     CreationOf(process) == created;
                if (process) CloseHandle(process);
                if (running) continue;
            }
            RegDeleteTreeW(parent, name.c_str());
            RegDeleteKeyW(parent, name.c_str());
        }
        RegCloseKey(parent);
        RegDeleteKeyW(HKEY_CURRENT_USER, kScratchParent);
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Quorvandel");
    }

    // A process's creation time, as its scratch keys' names carry it.
    static unsigned long long CreationOf(HANDLE process) {
        FILETIME created{}, exited{}, kernel{}, user{};
        if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
        return (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    }

    static std::wstring ScratchName(DWORD pid, unsigned long long created) {
        wchar_t name[64];
        std::swprintf(name, 64, L"%lu-%llx", static_cast<unsigned long>(pid), created);
        return name;
    }

    // Readies the keys and redirects the four predefined keys of this
    // process to them; once. The keys are readied now: the last capture's
    // put back if that has not been done, and a root written since it was
    // put back (by anything, at any time) put back too. Should that fail,
    // the redirection still starts, to keys that exist, and the capture
    // fails (StartedFromSeed).
    void Redirect() {
        if (redirected_ || !made_) return;
        // The program's own writes, not the server's.
        TInterceptExempt own;
        Join();
        PutBackRead();
        TPoll poll;
        AddTo(poll);
        poll.Run();
        for (int i = 0; ok_ && i < 4; ++i) {
            // Not armed (a notification that could not be set) or written:
            // read and put back.
            if (!fired_[i]) continue;
            ReadRoot(i);
            if (ok_) PutBack(i);
        }
        fromSeed_ = ok_;
        redirected_ = true;
        for (int i = 0; i < 4; ++i) RegOverridePredefKey(kPredefined[i], keys_[i]);
        // Type libraries registered per user land in HKEY_CURRENT_USER's
        // classes, which are redirected too; older oleaut32 lack it.
        static const TOaEnable enable = reinterpret_cast<TOaEnable>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("oleaut32.dll"), "OaEnablePerUserTLibRegistration")));
        if (enable) enable();
    }
    bool Redirected() const { return redirected_; }

    // The keys writes are made in while the interception records them.
    TScratchRoots Roots() const {
        TScratchRoots roots;
        for (int i = 0; i < 4; ++i) {
            roots.keys[i][0] = keys_[i];
            roots.keys[i][1] = others_[i];
        }
        roots.base = base_;
        return roots;
    }

    // Notes which of the other view's roots the capture wrote to: they are
    // emptied as the capture is settled.
    void NoteWrites(const std::vector<TRegWrite>& writes) {
        const TTree* seeds = SeedTrees();
        for (int i = 0; i < 4; ++i) {
            created_[i].clear();
            seedWritten_[i] = false;
        }
        for (const TRegWrite& write : writes) {
            const int i = static_cast<int>(write.root);
            if (write.otherView) {
                otherWritten_[i] = true;
                continue;
            }
            if (write.kind == TRegWriteKind::LookedUp || write.kind == TRegWriteKind::Refused) continue;
            // The topmost key of the path that the seed lacks: deleting it
            // takes what the server made there.
            std::wstring top;
            bool inSeed = true;
            for (size_t cut = 0; inSeed;) {
                cut = write.path.find(L'\\', cut + 1);
                top = write.path.substr(0, cut);
                inSeed = HasSeedKey(seeds[i], top);
                if (cut == std::wstring::npos) break;
            }
            if (!inSeed && !top.empty()) {
                created_[i].push_back(top);
            } else if (write.kind != TRegWriteKind::CreateKey) {
                // A value written or deleted in a seed key, or a seed key
                // deleted: the root is read and put back whole.
                seedWritten_[i] = true;
            }
        }
    }

    // Whether the roots the capture wrote to hold exactly what the record
    // explains at the seed's keys that hold other keys (the root, CLSID,
    // Software, Software\Classes): counted, not read. A root written without
    // a record, or holding more keys there than the record made, holds a
    // write that passed the interception. `fired` is what Poll found.
    bool Explained() const {
        const TTree* seeds = SeedTrees();
        // The seed classes are watched on their own.
        for (const TSealed& sealed : sealed_) {
            if (sealed.fired && !seedWritten_[0]) return false;
        }
        for (int i = 0; i < 4; ++i) {
            if (!keys_[i] || !fired_[i] || seedWritten_[i]) continue;
            if (created_[i].empty()) return false;
            for (const auto& entry : seeds[i]) {
                bool sealedKey = false;
                for (const wchar_t* seed : kSeedClasses) {
                    std::wstring rest;
                    if (i == 0 && (UpperW(entry.first) == UpperW(seed) || ChildOf(entry.first, seed, rest))) {
                        sealedKey = true;
                    }
                }
                if (sealedKey) continue;
                // A seed key that other seed keys lie below.
                std::set<std::wstring> names;
                for (const auto& other : seeds[i]) {
                    std::wstring rest;
                    if (ChildOf(other.first, entry.first, rest)) names.insert(UpperW(rest));
                }
                for (const std::wstring& path : created_[i]) {
                    std::wstring rest;
                    if (ChildOf(path, entry.first, rest)) names.insert(UpperW(rest));
                }
                if (names.empty()) continue;
                HKEY key = keys_[i];
                if (!entry.first.empty() && RegOpenKeyExW(keys_[i], entry.first.c_str(), 0, KEY_QUERY_VALUE, &key) !=
                                                ERROR_SUCCESS) {
                    return false;
                }
                DWORD subkeys = 0;
                const LONG result = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                                     nullptr, nullptr, nullptr, nullptr, nullptr);
                if (key != keys_[i]) RegCloseKey(key);
                if (result != ERROR_SUCCESS || subkeys > names.size()) return false;
            }
        }
        return true;
    }


    void Restore() {
        if (!redirected_) return;
        redirected_ = false;
        for (HKEY predefined : kPredefined) RegOverridePredefKey(predefined, nullptr);
    }

    // The live keys that appeared while the capture ran, full names.
    // `fired` is what Poll found.
    std::vector<std::string> NewLiveKeys(const TLiveWatch::TFired& fired) const {
        std::vector<std::string> found;
        std::set<std::string> seen;
        const TLiveWatch& watch = TLiveWatch::Instance();
        for (int v = 0; v < 2; ++v) {
            for (size_t i = 0; i < kWatchedCount; ++i) {
                const HKEY watched = watch.Key(v, i);
                if (!watched || !watch.MayHaveChanged(v, i, fired)) continue;
                for (const std::wstring& name : SubkeyNames(watched)) {
                    if (watch.Names(v, i).count(name)) continue;
                    const std::string shown = std::string(kWatched[i].shown) + "\\" + qv::WideToUtf8(name);
                    if (seen.insert(shown).second) found.push_back(shown);
                }
            }
        }
        return found;
    }

    // What the scratch keys hold beyond the seed: new keys with all their
    // values, and keys of the seed with their new or changed values. The
    // roots written are those Poll found.
    std::vector<TCapturedKey> Difference() {
        std::vector<TCapturedKey> keys;
        const TTree* seeds = SeedTrees();
        for (int i = 0; i < 4; ++i) {
            if (!keys_[i] || !fired_[i]) continue;
            // A key that could not be read cannot be put back: the set is
            // given up after the capture.
            if (!read_[i]) ReadRoot(i);
            const TTree& after = after_[i];
            for (const auto& entry : after) {
                if (entry.first.empty()) continue;
                auto seeded = seeds[i].find(entry.first);
                TCapturedKey key;
                key.root = static_cast<TCaptureRoot>(i);
                key.path = qv::WideToUtf8(entry.first);
                for (const TRawValue& value : entry.second) {
                    bool known = false;
                    if (seeded != seeds[i].end()) {
                        for (const TRawValue& old : seeded->second) {
                            known = known || (old.name == value.name && old.type == value.type && old.data == value.data);
                        }
                    }
                    if (!known) key.values.push_back(TCapturedValue{qv::WideToUtf8(value.name), value.type, value.data});
                }
                if (seeded == seeds[i].end() || !key.values.empty()) keys.push_back(std::move(key));
            }
        }
        // A new key without values that holds captured keys is implied by
        // them (a .reg file creates the keys above each key it names).
        std::vector<TCapturedKey> kept;
        for (TCapturedKey& key : keys) {
            bool implied = false;
            for (const TCapturedKey& other : keys) {
                implied = implied || (key.values.empty() && other.root == key.root &&
                                      other.path.size() > key.path.size() + 1 &&
                                      other.path.compare(0, key.path.size(), key.path) == 0 &&
                                      other.path[key.path.size()] == '\\');
            }
            if (!implied) kept.push_back(key);
        }
        return kept;
    }

private:
    TScratch() = default;

    bool StartWorker() {
        if (worker_) return true;
        if (!go_) go_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!restored_) restored_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!done_) done_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (go_ && restored_ && done_) worker_ = CreateThread(nullptr, 64 << 10, Work, this, 0, nullptr);
        return worker_ != nullptr;
    }

    // The settle's thread. Its flags tell whether it is through; its events
    // (auto-reset) wake a wait for them, which looks at the flag again: a
    // signal nobody waited for may still be set from an earlier settle.
    static DWORD WINAPI Work(void* parameter) {
        TScratch& scratch = *static_cast<TScratch*>(parameter);
        TInterceptExempt own(false);
        while (WaitForSingleObject(scratch.go_, INFINITE) == WAIT_OBJECT_0) {
            scratch.job_();
            InterlockedExchange(&scratch.pending_, 0);
            SetEvent(scratch.done_);
        }
        return 0;
    }

    // Hands `job` to the thread (started), which alone uses the keys until
    // Join.
    void Hand(std::function<void()> job) {
        job_ = std::move(job);
        InterlockedExchange(&pending_, 1);
        SetEvent(go_);
    }

    // Waits for a settle's thread, if it is at work.
    void Join() {
        while (InterlockedCompareExchange(&pending_, 0, 0)) WaitForSingleObject(done_, INFINITE);
    }

    // Closes the keys Difference read and puts back every root it read.
    void PutBackRead() {
        CloseOpened();
        for (int i = 0; made_ && ok_ && i < 4; ++i) {
            if (!read_[i] && seedWritten_[i]) ReadRoot(i);
            if (read_[i]) {
                PutBack(i);
            } else if (!created_[i].empty()) {
                // Put back from the record: what the server made below the
                // seed goes (a key already gone was deleted by the server).
                for (const std::wstring& path : created_[i]) {
                    RegDeleteTreeW(keys_[i], path.c_str());
                    const LONG result = RegDeleteKeyW(keys_[i], path.c_str());
                    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) ok_ = false;
                }
                Arm(i);
            }
            created_[i].clear();
            seedWritten_[i] = false;
            // The other view's roots hold nothing between captures.
            if (otherWritten_[i] && others_[i]) {
                if (RegDeleteTreeW(others_[i], nullptr) != ERROR_SUCCESS) ok_ = false;
                otherWritten_[i] = false;
            }
        }
    }

    void CloseOpened() {
        for (HKEY key : opened_) RegCloseKey(key);
        opened_.clear();
    }

    // Creates the four roots under a new name and seeds them; ok_ tells
    // whether all of it was written.
    void Make() {
        ok_ = true;
        made_ = true;
        base_ = std::wstring(kScratchParent) + L"\\" + ScratchName(GetCurrentProcessId(), CreationOf(GetCurrentProcess())) +
                L"-" + std::to_wstring(++number_);
        const TTree* seeds = SeedTrees();
        // Opened while nothing is redirected: the real HKEY_CURRENT_USER.
        for (int i = 0; i < 4; ++i) {
            read_[i] = false;
            after_[i].clear();
            const std::wstring path = base_ + L"\\" + kScratchNames[i];
            if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &keys_[i],
                                nullptr) != ERROR_SUCCESS) {
                keys_[i] = nullptr;
                ok_ = false;
                continue;
            }
            if (!SetValue(keys_[i], Canary())) ok_ = false;
            // A key without values that the next key lies below is made
            // with it.
            for (auto entry = seeds[i].begin(); entry != seeds[i].end(); ++entry) {
                if (entry->first.empty()) continue;
                auto next = std::next(entry);
                if (entry->second.empty() && next != seeds[i].end() && IsBelowW(next->first, entry->first)) continue;
                if (!WriteKey(keys_[i], entry->first, entry->second)) ok_ = false;
            }
            Arm(i);
            const std::wstring other = base_ + L"\\" + kScratchOtherNames[i];
            otherWritten_[i] = false;
            if (RegCreateKeyExW(HKEY_CURRENT_USER, other.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &others_[i],
                                nullptr) != ERROR_SUCCESS) {
                others_[i] = nullptr;
                ok_ = false;
            }
        }
        sealed_.clear();
        for (const wchar_t* seed : kSeedClasses) {
            if (!seeds[0].count(seed)) continue;
            sealed_.emplace_back();
            sealed_.back().path = seed;
            Seal(sealed_.back());
        }
    }

    // The seed classes below the HKEY_CLASSES_ROOT root, each watched on its
    // own: registrations read them and do not write them, so they are
    // rarely read back. A subtree whose notification has not fired since
    // it was put back, and whose key was not deleted (a notification does
    // not tell that), holds its seed.
    struct TSealed {
        std::wstring path;
        HKEY key = nullptr;
        HANDLE changed = nullptr;  // manual-reset event of the notification
        bool armed = false;
        bool fired = true;    // as Fired found it
        bool read = false;    // read with its root, not taken from the seed: seal again
    };

    // Opens the seed class's key afresh (it may have been made again) and
    // arms it.
    void Seal(TSealed& sealed) {
        if (sealed.key) RegCloseKey(sealed.key);
        sealed.key = nullptr;
        sealed.armed = false;
        sealed.read = false;
        if (!sealed.changed) sealed.changed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!sealed.changed || !keys_[0] ||
            RegOpenKeyExW(keys_[0], sealed.path.c_str(), 0, KEY_READ, &sealed.key) != ERROR_SUCCESS) {
            sealed.key = nullptr;
            return;
        }
        ResetEvent(sealed.changed);
        sealed.armed = RegNotifyChangeKeyValue(sealed.key, TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                               sealed.changed, TRUE) == ERROR_SUCCESS;
    }

    // Adds the roots' and seed classes' notifications to `poll`, which
    // marks those written since they were armed; those not armed count as
    // written. The classes root comes last, as the one a registration
    // writes.
    void AddTo(TPoll& poll) {
        for (TSealed& sealed : sealed_) {
            sealed.fired = !sealed.armed;
            if (sealed.armed) poll.Add(sealed.changed, &sealed.fired);
        }
        for (int i = 3; i >= 0; --i) {
            fired_[i] = !armed_[i];
            if (armed_[i]) poll.Add(written_[i], &fired_[i]);
        }
    }

    // Reads root `i` into after_[i]; a seed class still sealed is taken
    // from the seed instead. A key that cannot be read gives up the set.
    // Which seed classes still hold their seed: armed, not written, and
    // not deleted (which a notification does not tell).
    void CheckSeals() {
        for (TSealed& sealed : sealed_) {
            sealed.read = !(sealed.armed && !sealed.fired &&
                            RegQueryInfoKeyW(sealed.key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                             nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS);
        }
    }

    // Reads root `i` into after_[i]. Seed classes that hold their seed are
    // taken from it. A key that cannot be read gives up the set.
    void ReadRoot(int i) {
        TTree& after = after_[i];
        after.clear();
        if (i == 0) CheckSeals();
        std::set<std::wstring> skip;
        for (TSealed& sealed : sealed_) {
            if (i == 0 && !sealed.read) skip.insert(sealed.path);
        }
        TReadOptions options;
        options.skip = &skip;
        options.opened = &opened_;
        ReadTree(keys_[i], L"", after, options);
        if (!options.complete) ok_ = false;
        skipped_[i] = std::move(options.skipped);
        read_[i] = true;
        FinishRoot(i);
    }

    // Completes the read of root `i`: the seed classes left out are taken
    // from the seed when they hold it, read now when they do not.
    void FinishRoot(int i) {
        TTree& after = after_[i];
        const TTree& seed = SeedTrees()[i];
        for (const std::wstring& path : skipped_[i]) {
            bool holds = true;
            for (const TSealed& sealed : sealed_) holds = holds && !(sealed.path == path && sealed.read);
            if (!holds) {
                HKEY sub = nullptr;
                TReadOptions options;
                options.opened = &opened_;
                if (RegOpenKeyExW(keys_[i], path.c_str(), 0, KEY_READ, &sub) == ERROR_SUCCESS) {
                    opened_.push_back(sub);
                    ReadTree(sub, path, after, options);
                }
                if (!sub || !options.complete) ok_ = false;
                continue;
            }
            for (auto entry = seed.lower_bound(path);
                 entry != seed.end() && (entry->first == path || IsBelowW(entry->first, path)); ++entry) {
                after[entry->first] = entry->second;
            }
        }
        skipped_[i].clear();
    }

    // Whatever is written below the root from now on signals its event; a
    // root whose event stays unsignalled holds its seed.
    void Arm(int i) {
        if (!written_[i]) written_[i] = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        armed_[i] = false;
        if (!written_[i] || !keys_[i]) return;
        ResetEvent(written_[i]);
        armed_[i] = RegNotifyChangeKeyValue(keys_[i], TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                            written_[i], TRUE) == ERROR_SUCCESS;
    }

    static bool HasSeedKey(const TTree& seed, const std::wstring& path) {
        if (path.empty()) return true;
        for (const auto& entry : seed) {
            if (CompareStringOrdinal(entry.first.c_str(), -1, path.c_str(), -1, TRUE) == CSTR_EQUAL) return true;
        }
        return false;
    }

    // True when `path` lies below `parent` (any depth); `rest` then holds
    // the name of the key right below `parent`.
    static bool ChildOf(const std::wstring& path, const std::wstring& parent, std::wstring& rest) {
        if (parent.empty()) {
            if (path.empty()) return false;
            rest = path.substr(0, path.find(L'\\'));
            return true;
        }
        if (path.size() <= parent.size() + 1 || path[parent.size()] != L'\\' ||
            CompareStringOrdinal(path.c_str(), static_cast<int>(parent.size()), parent.c_str(),
                                 static_cast<int>(parent.size()), TRUE) != CSTR_EQUAL) {
            return false;
        }
        const std::wstring below = path.substr(parent.size() + 1);
        rest = below.substr(0, below.find(L'\\'));
        return true;
    }

    static std::wstring UpperW(std::wstring text) {
        if (!text.empty()) CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
        return text;
    }

    static bool IsBelowW(const std::wstring& path, const std::wstring& parent) {
        return path.size() > parent.size() + 1 && path.compare(0, parent.size(), parent) == 0 &&
               path[parent.size()] == L'\\';
    }

    // Creates `path` below `root` (and the keys above it) with `values`.
    static bool WriteKey(HKEY root, const std::wstring& path, const std::vector<TRawValue>& values) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
            return false;
        }
        bool ok = true;
        for (const TRawValue& value : values) ok = SetValue(key, value) && ok;
        RegCloseKey(key);
        return ok;
    }

    static bool SetValue(HKEY key, const TRawValue& value) {
        return RegSetValueExW(key, value.name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(value.data.data()),
                              static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
    }

    // Puts root `i` back to its seed from what was read of it (after_[i]):
    // keys not in the seed are deleted, deepest first; the seed's keys get
    // back exactly their values (and the top its canary); seed keys that
    // were deleted are made again. Then the root is armed again. Anything
    // that fails gives up the set (ok_).
    void PutBack(int i) {
        const TTree& seed = SeedTrees()[i];
        TTree& after = after_[i];
        for (auto entry = after.rbegin(); entry != after.rend(); ++entry) {
            if (entry->first.empty() || seed.count(entry->first)) continue;
            if (RegDeleteKeyW(keys_[i], entry->first.c_str()) == ERROR_SUCCESS) continue;
            // Keys below it that were not read (written since).
            RegDeleteTreeW(keys_[i], entry->first.c_str());
            if (RegDeleteKeyW(keys_[i], entry->first.c_str()) != ERROR_SUCCESS) ok_ = false;
        }
        for (const auto& entry : seed) {
            std::vector<TRawValue> want = entry.second;
            if (entry.first.empty()) {
                want.push_back(Canary());
            }
            auto found = after.find(entry.first);
            if (found == after.end()) {
                if (!WriteKey(keys_[i], entry.first, want)) ok_ = false;
                continue;
            }
            std::vector<const TRawValue*> wrong;  // values to delete
            std::vector<const TRawValue*> missing;  // values to write
            for (const TRawValue& value : found->second) {
                bool same = false, named = false;
                for (const TRawValue& w : want) {
                    same = same || (w.name == value.name && w.type == value.type && w.data == value.data);
                    named = named || w.name == value.name;
                }
                if (!same && !named) wrong.push_back(&value);
            }
            for (const TRawValue& w : want) {
                bool same = false;
                for (const TRawValue& value : found->second) {
                    same = same || (w.name == value.name && w.type == value.type && w.data == value.data);
                }
                if (!same) missing.push_back(&w);
            }
            if (wrong.empty() && missing.empty()) continue;
            HKEY key = keys_[i];
            if (!entry.first.empty() &&
                RegOpenKeyExW(keys_[i], entry.first.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
                ok_ = false;
                continue;
            }
            for (const TRawValue* value : wrong) {
                if (RegDeleteValueW(key, value->name.c_str()) != ERROR_SUCCESS) ok_ = false;
            }
            for (const TRawValue* value : missing) {
                if (!SetValue(key, *value)) ok_ = false;
            }
            if (key != keys_[i]) RegCloseKey(key);
        }
        after.clear();
        read_[i] = false;
        Arm(i);
        if (i == 0) {
            for (TSealed& sealed : sealed_) {
                if (sealed.read || !sealed.armed) Seal(sealed);
            }
        }
    }

    std::wstring base_;
    unsigned number_ = 0;      // the sets made by this process, for their names
    bool made_ = false;        // the keys exist (base_ names them)
    bool ok_ = true;           // all of them were written, and put back, as meant
    bool removedStale_ = false;
    bool redirected_ = false;
    HKEY keys_[4] = {};
    HKEY others_[4] = {};      // the other view's roots
    bool otherWritten_[4] = {};
    HANDLE written_[4] = {};   // signalled when anything below a root is written
    bool armed_[4] = {};
    bool read_[4] = {};        // the root was read after the server ran, into after_
    bool fired_[4] = {};       // as the last poll found it
    // What the last capture's record made below each own root's seed (the
    // topmost keys), and whether it wrote seed keys themselves.
    std::vector<std::wstring> created_[4];
    bool seedWritten_[4] = {};
    std::vector<std::wstring> skipped_[4];  // seed classes ReadRoot left out, for FinishRoot
    std::vector<HKEY> opened_; // keys Difference read, closed as the capture is settled
    bool fromSeed_ = true;     // the keys held their seed as the redirection started
    // The thread that settles a capture (SettleSoon), started by `go_`. It
    // ends the redirection when `restoring_` is set, then clears it and
    // signals `restored_`; it puts the keys back, then clears `pending_` and
    // signals `done_`. While `pending_` is set, it alone uses the keys.
    HANDLE worker_ = nullptr;
    std::function<void()> job_;
    HANDLE go_ = nullptr;
    HANDLE restored_ = nullptr;
    HANDLE done_ = nullptr;
    volatile LONG restoring_ = 0;
    volatile LONG pending_ = 0;
    TTree after_[4];
    std::vector<TSealed> sealed_;
};

void PutU32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}
void PutText(std::string& out, const std::string& text) {
    PutU32(out, static_cast<std::uint32_t>(text.size()));
    out += text;
}

struct TReader {
    const std::string& bytes;
    size_t at = 0;
    bool U32(std::uint32_t& value) {
        if (bytes.size() - at < 4) return false;
        value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
        at += 4;
        return true;
    }
    bool Text(std::string& text) {
        std::uint32_t length = 0;
        if (!U32(length) || bytes.size() - at < length) return false;
        text = bytes.substr(at, length);
        at += length;
        return true;
    }
};

}  // namespace

std::size_t TCapture::ValueCount() const {
    std::size_t count = 0;
    for (const TCapturedKey& key : keys) count += key.values.size();
    return count;
}

namespace {

// Registry names compare ignoring case, beyond ASCII too.
bool SameRegName(const std::string& a, const std::string& b) {
    const std::wstring wa = qv::Utf8ToWide(a), wb = qv::Utf8ToWide(b);
    return CompareStringOrdinal(wa.c_str(), static_cast<int>(wa.size()), wb.c_str(), static_cast<int>(wb.size()),
                                TRUE) == CSTR_EQUAL;
}

bool IsBelow(const std::string& path, const std::string& parent) {
    return path.size() > parent.size() + 1 && path[parent.size()] == '\\' &&
           SameRegName(path.substr(0, parent.size()), parent);
}

}  // namespace

namespace {

// Adds to `keys` what `found` (read from the scratch keys) holds beyond
// them: keys and values that reached the scratch keys without being
// recorded.
void AddUnrecorded(std::vector<TCapturedKey>& keys, const std::vector<TCapturedKey>& found) {
    for (const TCapturedKey& key : found) {
        TCapturedKey* same = nullptr;
        for (TCapturedKey& known : keys) {
            if (!known.deleted && known.root == key.root && known.otherView == key.otherView &&
                SameRegName(known.path, key.path)) {
                same = &known;
            }
        }
        if (!same) {
            keys.push_back(key);
            continue;
        }
        for (const TCapturedValue& value : key.values) {
            bool have = false;
            for (const TCapturedValue& known : same->values) have = have || SameRegName(known.name, value.name);
            if (!have) same->values.push_back(value);
        }
    }
}

}  // namespace

void FoldUserClasses(std::vector<TCapturedKey>& keys) {
    static const std::string kUserClasses = "Software\\Classes";
    std::vector<TCapturedKey> folded;
    for (TCapturedKey& key : keys) {
        const bool fold = key.root == TCaptureRoot::CurrentUser && IsBelow(key.path, kUserClasses);
        if (fold) {
            key.root = TCaptureRoot::ClassesRoot;
            key.path.erase(0, kUserClasses.size() + 1);
        }
        TCapturedKey* same = nullptr;
        if (fold) {
            for (TCapturedKey& earlier : folded) {
                if (earlier.root == key.root && earlier.otherView == key.otherView && SameRegName(earlier.path, key.path)) {
                    same = &earlier;
                }
            }
        }
        if (!same) {
            folded.push_back(std::move(key));
            continue;
        }
        for (TCapturedValue& value : key.values) {
            bool replaced = false;
            for (TCapturedValue& old : same->values) {
                // The registry keeps the name as first written.
                if (!replaced && SameRegName(old.name, value.name)) {
                    old.type = value.type;
                    old.data = value.data;
                    replaced = true;
                }
            }
            if (!replaced) same->values.push_back(std::move(value));
        }
    }
    // A key of HKEY_CLASSES_ROOT without values may now hold folded keys
    // below it: it is implied by them.
    keys.clear();
    for (size_t i = 0; i < folded.size(); ++i) {
        bool implied = false;
        if (folded[i].values.empty() && folded[i].root == TCaptureRoot::ClassesRoot) {
            for (size_t j = 0; j < folded.size() && !implied; ++j) {
                implied = folded[j].root == TCaptureRoot::ClassesRoot && folded[j].otherView == folded[i].otherView &&
                          IsBelow(folded[j].path, folded[i].path);
            }
        }
        if (!implied) keys.push_back(std::move(folded[i]));
    }
}

void EndCaptures() { TScratch::Instance().Remove(); }

void SettleCapture() { TScratch::Instance().SettleSoon(); }

void AwaitSettledCapture() { TScratch::Instance().Settle(); }

void RemoveStaleCaptureKeys() { TScratch::RemoveStale(0); }

void RemoveCaptureKeysOf(unsigned long processId) {
    if (processId) TScratch::RemoveStale(static_cast<DWORD>(processId));
}

TCapture CaptureInThisProcess(TServerKind kind, const std::string& fullPath, const TRegContext& context,
                              bool settleLater) {
    TCapture capture;
    capture.file = fullPath;
    BOOL wow64 = FALSE;
    capture.wow64 = IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
    TScratch& scratch = TScratch::Instance();
    // Every way out ends the redirection and puts the keys back to their
    // seed, unless the caller does so later.
    struct TSettle {
        TScratch& scratch;
        bool later;
        ~TSettle() {
            if (!later) scratch.Settle();
        }
    } settle{scratch, settleLater};
    if (!scratch.Prepare()) {
        capture.outcome.message = "Could not capture '" + ExtractFileName(fullPath) + "'.";
        capture.outcome.details = "The scratch keys under HKEY_CURRENT_USER could not be created.";
        capture.outcome.failure = TFailure::Helper;
        return capture;
    }
    // Every registry write from here on is recorded, and none reaches the
    // live registry: those meant for it are made in the scratch keys. The
    // redirection of the predefined keys starts just before the server's
    // code is called (the loader and the file checks before it read the
    // live registry), as a first layer under the interception.
    TInterceptScope intercept(TInterceptMode::Capture, scratch.Roots());
    TRegContext local = context;
    local.onPhase = [&scratch, &context, &intercept](TPhase phase) {
        if (phase == TPhase::Calling || phase == TPhase::Installing || phase == TPhase::TypeLibrary) {
            scratch.Redirect();
            intercept.Calling();
        }
        if (context.onPhase) context.onPhase(phase);
    };
    capture.outcome = kind == TServerKind::TypeLibrary ? RegisterTypeLibraryCore(fullPath, true, local)
                                                       : RegisterLibraryCore(fullPath, true, local);
    const std::vector<TRegWrite> writes = intercept.Finish();
    scratch.NoteWrites(writes);
    if (!scratch.Redirected()) return capture;  // nothing of the server's ran (or another helper's file)
    // What follows reads through handles of its own: the redirection may
    // stand until the capture is settled.
    TLiveWatch::TFired live;
    scratch.Poll(live);
    const bool explained = scratch.Explained();
    const bool hasOtherView = capture.wow64 || sizeof(void*) == 8;
    capture.keys = KeysOfWrites(writes, hasOtherView);
    // What reached the scratch keys past the interception, through the
    // redirection alone, is read and kept too.
    if (!explained) AddUnrecorded(capture.keys, scratch.Difference());
    FoldUserClasses(capture.keys);
    capture.liveKeys = scratch.NewLiveKeys(live);
    for (const std::string& key : TValueWatch::Instance().Changed(capture.keys, capture.wow64)) {
        capture.liveKeys.push_back(key);
    }
    std::vector<std::string> refused;
    for (const TRegWrite& write : writes) {
        if (write.kind == TRegWriteKind::Refused) refused.push_back(WriteKeyName(write));
    }
    // A class of the server's own that its registration asked COM for: COM
    // found it (or not) in the machine's classes, where the capture keeps
    // it from, so what was captured depends on this computer.
    std::vector<std::string> ownClasses;
    for (const TRegWrite& write : writes) {
        if (write.kind != TRegWriteKind::LookedUp) continue;
        const std::string path = qv::WideToUtf8(write.path);
        const std::string clsid = path.substr(0, path.find('\\', 6));
        bool own = false;
        for (const TCapturedKey& key : capture.keys) {
            own = own || (key.root == TCaptureRoot::ClassesRoot && !key.deleted &&
                          (SameRegName(key.path, clsid) || IsBelow(key.path, clsid)));
        }
        bool named = false;
        for (const std::string& known : ownClasses) named = named || SameRegName(known, clsid);
        if (own && !named) ownClasses.push_back(clsid);
    }
    if (!ownClasses.empty()) {
        std::string details = "Its registration asks COM for a class of its own, and COM looks classes up in the "
                              "machine's registry, where the capture keeps them from; what it writes then depends on "
                              "whether the class is registered on this computer:";
        for (const std::string& clsid : ownClasses) details += "\nHKEY_CLASSES_ROOT\\" + clsid;
        details += "\nRegister it to have it registered; its registration cannot be captured without that.";
        if (!capture.outcome.success) details += "\n" + capture.outcome.message + "\n" + capture.outcome.details;
        capture.outcome.success = false;
        capture.outcome.failure = TFailure::Returned;
        capture.outcome.message = "The capture of '" + ExtractFileName(fullPath) + "' failed.";
        capture.outcome.details = details;
        return capture;
    }
    if (!capture.liveKeys.empty() || !refused.empty()) {
        std::string details;
        if (!refused.empty()) {
            details = "The server loaded, restored, replaced or renamed whole registry keys, which a capture cannot "
                      "record; they were not changed:";
            for (const std::string& key : refused) details += "\n" + key;
        }
        if (!capture.liveKeys.empty()) {
            if (!details.empty()) details += "\n";
            details += "The live registry changed while the server registered (by the server past the capture, or "
                       "by another program at the same time):";
            for (const std::string& key : capture.liveKeys) details += "\n" + key;
            // They stay: the capture cannot tell a key the server wrote from
            // one another program wrote under the same name meanwhile.
            details += "\nThese keys were left as they are; delete them if the server made them.";
        }
        capture.outcome.success = false;
        capture.outcome.failure = TFailure::Returned;
        capture.outcome.message = "The capture of '" + ExtractFileName(fullPath) + "' failed.";
        capture.outcome.details = details;
        return capture;
    }
    if (!scratch.StartedFromSeed()) {
        // What the server wrote cannot be told from what was left there.
        capture.outcome.success = false;
        capture.outcome.message = "Could not capture '" + ExtractFileName(fullPath) + "'.";
        capture.outcome.details =
            "The scratch keys under HKEY_CURRENT_USER could not be put back to their first state before the server ran.";
        capture.outcome.failure = TFailure::Helper;
        return capture;
    }
    capture.clean = capture.outcome.success;
    return capture;
}

std::string EncodeCapture(const TCapture& capture) {
    std::string out;
    out += static_cast<char>((capture.clean ? 1 : 0) | (capture.wow64 ? 2 : 0));
    PutU32(out, static_cast<std::uint32_t>(capture.keys.size()));
    for (const TCapturedKey& key : capture.keys) {
        out += static_cast<char>(static_cast<unsigned>(key.root) | (key.otherView ? 0x80u : 0u) |
                                 (key.deleted ? 0x40u : 0u));
        PutText(out, key.path);
        PutU32(out, static_cast<std::uint32_t>(key.values.size()));
        for (const TCapturedValue& value : key.values) {
            out += value.deleted ? '\1' : '\0';
            PutText(out, value.name);
            PutU32(out, value.type);
            PutText(out, value.data);
        }
    }
    PutU32(out, static_cast<std::uint32_t>(capture.liveKeys.size()));
    for (const std::string& key : capture.liveKeys) PutText(out, key);
    return out;
}

bool DecodeCapture(const std::string& bytes, TCapture& capture) {
    TReader in{bytes};
    if (bytes.empty()) return false;
    const unsigned flags = static_cast<unsigned char>(bytes[0]);
    if (flags > 3) return false;
    in.at = 1;
    std::uint32_t keys = 0;
    if (!in.U32(keys) || keys > bytes.size()) return false;
    std::vector<TCapturedKey> read;
    for (std::uint32_t k = 0; k < keys; ++k) {
        if (in.at >= bytes.size() || (static_cast<unsigned char>(bytes[in.at]) & 0x3F) > 3) return false;
        TCapturedKey key;
        const unsigned char root = static_cast<unsigned char>(bytes[in.at++]);
        key.root = static_cast<TCaptureRoot>(root & 0x3F);
        key.otherView = (root & 0x80) != 0;
        key.deleted = (root & 0x40) != 0;
        std::uint32_t values = 0;
        if (!in.Text(key.path) || !in.U32(values) || values > bytes.size()) return false;
        for (std::uint32_t v = 0; v < values; ++v) {
            TCapturedValue value;
            if (in.at >= bytes.size() || static_cast<unsigned char>(bytes[in.at]) > 1) return false;
            value.deleted = bytes[in.at++] == '\1';
            if (!in.Text(value.name) || !in.U32(value.type) || !in.Text(value.data)) return false;
            key.values.push_back(std::move(value));
        }
        read.push_back(std::move(key));
    }
    std::uint32_t live = 0;
    if (!in.U32(live) || live > bytes.size()) return false;
    std::vector<std::string> liveKeys(live);
    for (std::string& key : liveKeys) {
        if (!in.Text(key)) return false;
    }
    if (in.at != bytes.size()) return false;
    capture.clean = flags & 1;
    capture.wow64 = (flags & 2) != 0;
    capture.keys = std::move(read);
    capture.liveKeys = std::move(liveKeys);
    return true;
}

TCapture CaptureFile(const std::string& path, const TRegContext& context) {
    TCapture capture;
    capture.file = path;
    const std::string fullPath = FullPathOf(path);
    const std::string fileName = ExtractFileName(path);
    const TServerKind kind = KindOf(path);
    if (kind == TServerKind::Executable) {
        capture.outcome.message = "Cannot capture '" + fileName + "'.";
        capture.outcome.details =
            "'" + fileName + "' is an executable server: the loader runs its code before anything could redirect "
            "its registry, so its registration cannot be captured without registering it.";
        capture.outcome.failure = TFailure::NotLoaded;
        return capture;
    }
    std::optional<THelperSession> own;
    if (!THelperSession::Current()) own.emplace();
    THelperSession& session = *THelperSession::Current();
    pe::TMachine machine = kind == TServerKind::TypeLibrary ? TypeLibraryMachine(fullPath) : session.Guess(fullPath);
    session.For(machine).Capture(kind, fullPath, context, capture);
    if (capture.outcome.redirect != pe::TMachine::None) {
        machine = capture.outcome.redirect;
        capture = TCapture{};
        session.For(machine).Capture(kind, fullPath, context, capture);
        capture.outcome.redirect = pe::TMachine::None;
    }
    if (kind == TServerKind::Library) session.Remember(machine);
    capture.file = path;
    return capture;
}

}  // namespace engine
