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
#include <string>
#include <vector>

#include "TestServerIds.h"
#include "engine/uCapture.h"
#include "engine/uHelper.h"
#include "support/RegSnapshot.h"
#include "support/TestEnv.h"

using namespace testenv;
namespace ts = TestServers;

namespace {

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
    const TRegSnapshot before = RegistrySnapshot();
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
    const TRegSnapshot after = RegistrySnapshot();
    EXPECT_TRUE(before == after) << SnapshotDifferences(before, after);
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
