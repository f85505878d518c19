#pragma once
// Paths and registry helpers shared by the tests.
#include <windows.h>

#include <string>

namespace testenv {

// Folder of the running test program, with a trailing backslash.
std::string BinDir();
// Folder of the test servers, with a trailing backslash.
std::string TestDataDir();
// A fresh empty folder under the system temp folder, with a trailing backslash.
std::string MakeTempDir(const std::string& name);
void WriteFile(const std::string& path, const std::string& bytes);
// A file of `size` bytes that begins with `start`, the rest zeros (sparse
// where the file system allows, so even a huge one is made at once). False
// when it could not be made.
bool WriteSizedFile(const std::string& path, const std::string& start, long long size);
// The file's bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);
bool CopyTo(const std::string& from, const std::string& to);

bool KeyExists(HKEY root, const std::string& path);
// The string value, or `fallback` when absent.
std::string ReadString(HKEY root, const std::string& path, const std::string& name,
                       const std::string& fallback = "<absent>");
DWORD ReadDword(HKEY root, const std::string& path, const std::string& name, DWORD fallback = 0xFFFFFFFF);
void DeleteTree(HKEY root, const std::string& path);

// Whether a module of that file name is loaded in this process.
bool ModuleLoaded(const std::string& fileName);

// Sets a variable of this process's environment for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const std::string& name, const std::string& value);
    ~ScopedEnv();

private:
    std::string name_;
};

// Changes the current folder for the life of the object.
class ScopedCurrentDir {
public:
    explicit ScopedCurrentDir(const std::string& folder);
    ~ScopedCurrentDir();

private:
    std::string previous_;
};

}  // namespace testenv
