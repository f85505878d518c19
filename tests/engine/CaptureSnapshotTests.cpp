// Capturing every test library and type library, of both bitnesses, leaves
// HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE\Software as they were in both
// registry views, every value of every key compared. The servers that write
// live (one undoes the redirection, one writes from DllMain, before the
// redirection starts) fail, naming the keys they wrote; those keys are left
// in place (see CaptureInThisProcess) and are the only difference.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "TestServerIds.h"
#include "engine/uCapture.h"
#include "engine/uHelper.h"
#include "support/TestEnv.h"

using namespace testenv;
namespace ts = TestServers;

namespace {

// Key name ("32|HKCR\CLSID\...", lower case) -> its values, sorted by name,
// each as name, type and bytes.
using TSnapshot = std::map<std::wstring, std::string>;

std::wstring Lower(std::wstring text) {
    CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// Reads the key and everything below it into `out`, leaving out the keys
// named (lower case, as in the snapshot) in `skip`. One query for the
// lengths, then plain enumerations: a few registry calls per key.
void ReadAll(HKEY key, const std::wstring& name, REGSAM view, const std::vector<std::wstring>& skip, TSnapshot& out) {
    DWORD subkeys = 0, maxSubkey = 0, count = 0, maxName = 0, maxData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &count, &maxName, &maxData,
                         nullptr, nullptr) != ERROR_SUCCESS) {
        out[Lower(name)] = "<unreadable>";
        return;
    }
    std::vector<wchar_t> valueName(maxName + 2);
    std::vector<BYTE> data(maxData + 2);
    std::vector<std::pair<std::wstring, std::string>> values;
    for (DWORD i = 0; i < count; ++i) {
        DWORD nameLength = static_cast<DWORD>(valueName.size()), size = static_cast<DWORD>(data.size()), type = 0;
        if (RegEnumValueW(key, i, valueName.data(), &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) {
            continue;
        }
        std::string entry(reinterpret_cast<const char*>(&type), sizeof type);
        entry.append(reinterpret_cast<const char*>(data.data()), size);
        values.emplace_back(Lower(std::wstring(valueName.data(), nameLength)), entry);
    }
    std::sort(values.begin(), values.end());
    std::string& text = out[Lower(name)];
    for (const auto& value : values) {
        text.append(reinterpret_cast<const char*>(value.first.data()), value.first.size() * sizeof(wchar_t));
        text += std::string(2, '\0') + value.second + '\x01';
    }
    std::vector<wchar_t> subName(maxSubkey + 2);
    for (DWORD i = 0; i < subkeys; ++i) {
        DWORD length = static_cast<DWORD>(subName.size());
        if (RegEnumKeyExW(key, i, subName.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
        const std::wstring child = name + L"\\" + std::wstring(subName.data(), length);
        if (std::find(skip.begin(), skip.end(), Lower(child)) != skip.end()) continue;
        HKEY sub = nullptr;
        if (RegOpenKeyExW(key, std::wstring(subName.data(), length).c_str(), 0, KEY_READ | view, &sub) != ERROR_SUCCESS) {
            out[Lower(child)] = "<unopened>";
            continue;
        }
        ReadAll(sub, child, view, skip, out);
        RegCloseKey(sub);
    }
}

// HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE\Software, both views. The
// machine's Software\Classes is read as HKEY_CLASSES_ROOT, which holds it;
// the keys named Wow6432Node are read as the 32-bit view, which they hold;
// the program's own settings are left out. About 18,000 keys under Wine.
TSnapshot Snapshot() {
    TSnapshot out;
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        const std::wstring tag = view == KEY_WOW64_32KEY ? L"32|" : L"64|";
        const std::vector<std::wstring> skip = {
            Lower(tag + L"HKLM\\Software\\Classes"),
            Lower(tag + L"HKLM\\Software\\Wow6432Node"),
            Lower(tag + L"HKCR\\Wow6432Node"),
            Lower(tag + L"HKLM\\Software\\Quorvandel\\Quorvandel Tessaly\\Corvantis"),
        };
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, nullptr, 0, KEY_READ | view, &key) == ERROR_SUCCESS) {
            ReadAll(key, tag + L"HKCR", view, skip, out);
            RegCloseKey(key);
        }
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_READ | view, &key) == ERROR_SUCCESS) {
            ReadAll(key, tag + L"HKLM\\Software", view, skip, out);
            RegCloseKey(key);
        }
    }
    return out;
}

// The keys that differ, at most `most` of them, one a line.
std::string Differences(const TSnapshot& before, const TSnapshot& after, int most = 12) {
    std::string text;
    int shown = 0;
    auto note = [&](const std::wstring& key, const char* what) {
        if (shown++ < most) text += std::string(what) + " " + std::string(key.begin(), key.end()) + "\n";
    };
    for (const auto& entry : before) {
        auto found = after.find(entry.first);
        if (found == after.end()) note(entry.first, "removed");
        else if (found->second != entry.second) note(entry.first, "changed");
    }
    for (const auto& entry : after) {
        if (!before.count(entry.first)) note(entry.first, "added");
    }
    return text;
}

// Every library and type library below `folder` (its own name given as
// `shown`), executables left out: they are refused without being run.
void CollectServers(const std::string& folder, std::vector<std::string>& files) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CollectServers(folder + name + "\\", files);
            continue;
        }
        const size_t dot = name.find_last_of('.');
        const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
        if (lstrcmpiA(ext.c_str(), ".dll") == 0 || lstrcmpiA(ext.c_str(), ".ocx") == 0 ||
            lstrcmpiA(ext.c_str(), ".tlb") == 0) {
            files.push_back(folder + name);
        }
    } while (FindNextFileA(find, &found));
    FindClose(find);
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && lstrcmpiA(text.substr(text.size() - end.size()).c_str(), end.c_str()) == 0;
}

std::string Utf16Text(const std::string& data) {
    std::wstring wide(data.size() / 2, L'\0');
    if (!wide.empty()) std::memcpy(&wide[0], data.data(), wide.size() * 2);
    while (!wide.empty() && wide.back() == L'\0') wide.pop_back();
    return std::string(wide.begin(), wide.end());
}

TEST(CaptureSnapshot, CapturingEveryTestServerLeavesBothViewsAsTheyWere) {
    // The 32-bit build of the tests drives both helpers.
    if (sizeof(void*) == 8) GTEST_SKIP() << "run by the 32-bit tests, through both helpers";
    std::vector<std::string> files;
    CollectServers(TestDataDir(), files);
    // The servers that write live, and the one that reads its own key while
    // it registers, are among them; a good server comes last,
    // so that the scratch keys of helpers that ended are removed.
    const std::string undo32 = TestDataDir() + "UndoServer.dll";
    const std::string reader = TestDataDir() + ts::kInstallServerFile;
    ASSERT_NE(std::find(files.begin(), files.end(), undo32), files.end());
    ASSERT_NE(std::find(files.begin(), files.end(), TestDataDir() + "DllMainWriter.dll"), files.end());
    ASSERT_NE(std::find(files.begin(), files.end(), reader), files.end());
    files.push_back(TestDataDir() + ts::kOkServerFile);
    // The servers that hang cost the time-out; the slow one sleeps briefly.
    ScopedEnv slow(ts::kMisbehaveSlowEnvVar, "20");
    engine::TRegContext context;
    context.timeoutMs = 1500;
    // The reader's key holds calls of earlier tests in the live registry;
    // the capture must see only its own.
    HKEY installKey = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, ts::kInstallServerKey, 0, nullptr, 0, KEY_WRITE, nullptr, &installKey,
                              nullptr),
              ERROR_SUCCESS);
    static const wchar_t kEarlier[] = L"an earlier call\n";
    RegSetValueExW(installKey, L"Calls", 0, REG_SZ, reinterpret_cast<const BYTE*>(kEarlier), sizeof kEarlier);
    RegCloseKey(installKey);

    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        RegDeleteKeyExA(HKEY_CLASSES_ROOT, ts::kUndoServerClsidKey, view, 0);
        RegDeleteKeyExA(HKEY_CLASSES_ROOT, ts::kDllMainWriterClsidKey, view, 0);
    }
    const DWORD start = GetTickCount();
    const TSnapshot before = Snapshot();
    const DWORD snapshotMs = GetTickCount() - start;
    std::vector<engine::TCapture> captures;
    {
        engine::THelperSession helpers;
        for (const std::string& file : files) captures.push_back(engine::CaptureFile(file, context));
    }
    std::printf("  %u files captured; one snapshot of %u keys took %lu ms\n", static_cast<unsigned>(files.size()),
                static_cast<unsigned>(before.size()), static_cast<unsigned long>(snapshotMs));

    // The servers that write past the redirection (from DllMain, or after
    // undoing it): captured, their key held in the capture, and nothing
    // written live.
    const char* const writers[][2] = {
        {"\\UndoServer.dll", ts::kUndoServerClsidKey},
        {"\\DllMainWriter.dll", ts::kDllMainWriterClsidKey},
    };
    int writing = 0;
    for (const engine::TCapture& capture : captures) {
        SCOPED_TRACE(capture.file);
        EXPECT_TRUE(capture.liveKeys.empty()) << capture.outcome.details;
        for (const auto& writer : writers) {
            if (!EndsWith(capture.file, writer[0])) continue;
            ++writing;
            EXPECT_TRUE(capture.clean) << capture.outcome.details;
            bool held = false;
            for (const engine::TCapturedKey& key : capture.keys) {
                held = held || (key.root == engine::TCaptureRoot::ClassesRoot && lstrcmpiA(key.path.c_str(), writer[1]) == 0);
            }
            EXPECT_TRUE(held) << writer[1];
        }
    }
    // Both bitnesses of both.
    EXPECT_EQ(writing, 4);
    // Nothing changed.
    const TSnapshot after = Snapshot();
    EXPECT_TRUE(before == after) << Differences(before, after);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Quorvandel\\Corvantis Capture"));

    // The reader saw its own scratch key, not the live one.
    bool readerSeen = false;
    for (const engine::TCapture& capture : captures) {
        if (capture.file != reader) continue;
        readerSeen = true;
        ASSERT_TRUE(capture.clean) << capture.outcome.details;
        for (const engine::TCapturedKey& key : capture.keys) {
            if (key.root != engine::TCaptureRoot::CurrentUser || lstrcmpiA(key.path.c_str(), ts::kInstallServerKey) != 0) {
                continue;
            }
            for (const engine::TCapturedValue& value : key.values) {
                if (value.name == "Calls") {
                    EXPECT_EQ(Utf16Text(value.data), "DllRegisterServer\n");
                    readerSeen = false;
                }
            }
        }
        EXPECT_FALSE(readerSeen) << "no Calls value captured";
        readerSeen = true;
    }
    EXPECT_TRUE(readerSeen);
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, ts::kInstallServerKey, "Calls"), "an earlier call\n");
    DeleteTree(HKEY_CURRENT_USER, ts::kInstallServerKey);
}

}  // namespace
