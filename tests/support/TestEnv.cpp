#include "support/TestEnv.h"

#include <fstream>

namespace testenv {

std::string BinDir() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path);
    return text.substr(0, text.find_last_of('\\') + 1);
}

std::string TestDataDir() { return BinDir() + "testdata\\"; }

namespace {
void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            std::string full = folder + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full + "\\");
            } else {
                SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(full.c_str());
            }
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
}
}  // namespace

std::string MakeTempDir(const std::string& name) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + "corvantis-tests\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    folder += name + "\\";
    RemoveTree(folder);
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool WriteSizedFile(const std::string& path, const std::string& start, long long size) {
    WriteFile(path, start);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER end;
    end.QuadPart = size;
    const bool sized = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return sized;
}

bool CopyTo(const std::string& from, const std::string& to) { return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0; }

bool KeyExists(HKEY root, const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::string ReadString(HKEY root, const std::string& path, const std::string& name, const std::string& fallback) {
    char buffer[2048];
    DWORD size = sizeof buffer;
    DWORD type = 0;
    if (RegGetValueA(root, path.c_str(), name.empty() ? nullptr : name.c_str(), RRF_RT_REG_SZ, &type, buffer,
                     &size) != ERROR_SUCCESS) {
        return fallback;
    }
    return std::string(buffer);
}

DWORD ReadDword(HKEY root, const std::string& path, const std::string& name, DWORD fallback) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueA(root, path.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) {
        return fallback;
    }
    return value;
}

void DeleteTree(HKEY root, const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        char sub[256];
        while (true) {
            DWORD size = sizeof sub;
            if (RegEnumKeyExA(key, 0, sub, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            DeleteTree(root, path + "\\" + sub);
        }
        RegCloseKey(key);
    }
    RegDeleteKeyA(root, path.c_str());
}

bool ModuleLoaded(const std::string& fileName) { return GetModuleHandleA(fileName.c_str()) != nullptr; }

ScopedEnv::ScopedEnv(const std::string& name, const std::string& value) : name_(name) {
    SetEnvironmentVariableA(name.c_str(), value.c_str());
}
ScopedEnv::~ScopedEnv() { SetEnvironmentVariableA(name_.c_str(), nullptr); }

ScopedCurrentDir::ScopedCurrentDir(const std::string& folder) {
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, current);
    previous_ = current;
    SetCurrentDirectoryA(folder.c_str());
}
ScopedCurrentDir::~ScopedCurrentDir() { SetCurrentDirectoryA(previous_.c_str()); }

std::string ReadFileBytes(const std::string& path) {
    std::string bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

}  // namespace testenv
