#pragma once
// Test servers placed in the system folders of the 64-bit prefix, as a user
// copies a library into System32 with Explorer: a 64-bit one into the real
// System32 (reached through Sysnative from the 32-bit tests) and a 32-bit
// namesake into SysWOW64. Everything placed is removed again, together with
// what the servers registered in either registry view.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "TestServerIds.h"
#include "support/TestEnv.h"

namespace testenv {

// "C:\windows\", as the system spells it.
inline std::string WindowsDir() {
    char folder[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryA(folder, MAX_PATH);
    return std::string(folder, length) + "\\";
}

// A 32-bit process on 64-bit Windows, which System32 sends to SysWOW64.
inline bool RedirectedToSysWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// A value in one registry view under HKEY_LOCAL_MACHINE; "" when absent.
inline std::string ReadInView(const std::string& key, const char* name, REGSAM view) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, &opened) != ERROR_SUCCESS) return "";
    char value[MAX_PATH * 2] = {};
    DWORD size = sizeof value - 1;
    RegQueryValueExA(opened, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(opened);
    return value;
}

// OkServer's InprocServer32 path in one view.
inline std::string OkServerInproc(REGSAM view) {
    return ReadInView(std::string("Software\\Classes\\") + TestServers::kOkServerInprocKey, nullptr, view);
}

// What OkServer, ExeServer and TestLib.tlb registered, in both views.
inline void ForgetTestServers() {
    const std::pair<const char*, const char*> keys[] = {
        {"Software\\Classes\\CLSID", TestServers::kOkServerClsidString},
        {"Software\\Classes\\TypeLib", TestServers::kTestLibLibidString},
        {"Software\\Classes\\Interface", TestServers::kTestLibInterfaceIidString},
        {"Software\\CorvantisTests", "ExeServer"}};
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        for (const auto& [parent, child] : keys) {
            HKEY opened = nullptr;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, parent, 0, KEY_ALL_ACCESS | view, &opened) == ERROR_SUCCESS) {
                RegDeleteTreeA(opened, child);
                RegCloseKey(opened);
            }
        }
    }
}

// Files put into "Sysnative" (the real System32) or "SysWOW64"; removed, and
// the servers' classes forgotten, when the object goes.
class TSystemFolderFiles {
public:
    TSystemFolderFiles() { ForgetTestServers(); }
    ~TSystemFolderFiles() {
        for (const std::string& path : placed_) DeleteFileA(path.c_str());
        ForgetTestServers();
    }
    TSystemFolderFiles(const TSystemFolderFiles&) = delete;
    TSystemFolderFiles& operator=(const TSystemFolderFiles&) = delete;

    // Copies the test server `source` (under testdata) into the folder.
    bool Place(const std::string& source, const char* folder, const std::string& name) {
        const std::string target = WindowsDir() + folder + "\\" + name;
        placed_.push_back(target);
        return CopyTo(TestDataDir() + source, target);
    }

    // Writes `bytes` as the file `name` into the folder.
    void Write(const char* folder, const std::string& name, const std::string& bytes) {
        placed_.push_back(WindowsDir() + folder + "\\" + name);
        WriteFile(placed_.back(), bytes);
    }

private:
    std::vector<std::string> placed_;
};

}  // namespace testenv
