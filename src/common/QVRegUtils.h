#pragma once
// Eleven registry routines, each one complete operation: it opens what it
// needs, does its work and closes every handle before it returns. None
// reports a failure: readers fall back to the caller's default, writers and
// deleters return quietly having done what they could.
//
// Keys are paths relative to the root; one leading backslash is dropped and
// the empty path stands for the root itself. A subkey is relative to the key,
// or to the root when it begins with a backslash. The empty value name is the
// key's default value. Readers open keys for reading only, so a key the user
// may read but not write still reads; writers and deleters ask for full
// access.
#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qv {

// An open registry key, closed when the object dies. Move-only.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() { Close(); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    RegKey(RegKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    RegKey& operator=(RegKey&& other) noexcept {
        if (this != &other) {
            Close();
            key_ = std::exchange(other.key_, nullptr);
        }
        return *this;
    }

    // Opens an existing key; the result is empty when that fails.
    [[nodiscard]] static RegKey Open(HKEY parent, const std::string& path, REGSAM access);
    // Opens the key, creating it and any missing parents first.
    [[nodiscard]] static RegKey Create(HKEY parent, const std::string& path);

    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

private:
    void Close() {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
    }
    HKEY key_ = nullptr;
};

std::string ReadRegString(HKEY root, const std::string& key, const std::string& name, const std::string& fallback);
bool ReadRegBool(HKEY root, const std::string& key, const std::string& name, bool fallback);
std::int32_t ReadRegInteger(HKEY root, const std::string& key, const std::string& name, std::int32_t fallback);
// The value names of the subkey in the registry's order, or the fallback
// when the key or the subkey cannot be opened.
std::vector<std::string> ReadRegValueNames(HKEY root, const std::string& key, const std::string& subkey,
                                           const std::vector<std::string>& fallback);

void WriteRegString(HKEY root, const std::string& key, const std::string& name, const std::string& text);
void WriteRegBool(HKEY root, const std::string& key, const std::string& name, bool flag);
void WriteRegInteger(HKEY root, const std::string& key, const std::string& name, std::int32_t value);
// Replaces the subkey by a fresh one holding one empty REG_SZ value per
// entry, named by the entry, written in list order.
void WriteRegValueNames(HKEY root, const std::string& key, const std::string& subkey,
                        const std::vector<std::string>& names);

// Deletes every value of the key; its subkeys stay.
void ClearRegValues(HKEY root, const std::string& key);
// Deletes the subkey of the key with its whole subtree.
void DeleteRegSubKey(HKEY root, const std::string& key, const std::string& subkey);
// Deletes the key with its whole subtree.
void DeleteRegKey(HKEY root, const std::string& key);
// Deletes one value of the key; the key itself stays.
void DeleteRegValue(HKEY root, const std::string& key, const std::string& name);
// Deletes the key only when it holds neither values nor subkeys, so that
// nothing another program stored there goes with it.
void DeleteRegKeyIfEmpty(HKEY root, const std::string& key);

}  // namespace qv
