#include "common/QVRegUtils.h"

namespace qv {

namespace {

std::string KeyPath(const std::string& path) {
    return (!path.empty() && path[0] == '\\') ? path.substr(1) : path;
}

// The parent a subkey is taken from and its path below that parent.
std::pair<HKEY, std::string> SubkeyOf(HKEY root, HKEY key, const std::string& subkey) {
    if (!subkey.empty() && subkey[0] == '\\') return {root, subkey.substr(1)};
    return {key, subkey};
}

// Names of the key's values in index order.
std::vector<std::string> ValueNames(HKEY key) {
    std::vector<std::string> names;
    DWORD count = 0;
    DWORD longest = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longest, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS) {
        return names;
    }
    std::vector<char> buffer(longest + 1);
    names.reserve(count);
    for (DWORD index = 0; index < count; ++index) {
        DWORD length = static_cast<DWORD>(buffer.size());
        if (RegEnumValueA(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            names.emplace_back(buffer.data(), length);
        }
    }
    return names;
}

// Deletes `path` below `parent` with everything under it, deepest first.
void DeleteTree(HKEY parent, const std::string& path) {
    if (RegKey key = RegKey::Open(parent, path, KEY_ALL_ACCESS)) {
        DWORD count = 0;
        DWORD longest = 0;
        if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            std::vector<char> buffer(longest + 1);
            for (DWORD index = count; index-- > 0;) {
                DWORD length = static_cast<DWORD>(buffer.size());
                if (RegEnumKeyExA(key.get(), index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr) ==
                    ERROR_SUCCESS) {
                    DeleteTree(key.get(), std::string(buffer.data(), length));
                }
            }
        }
    }
    RegDeleteKeyA(parent, path.c_str());
}

// Reads a value of at most four bytes of type REG_DWORD.
bool ReadDword(HKEY root, const std::string& key, const std::string& name, DWORD* value) {
    RegKey opened = RegKey::Open(root, KeyPath(key), KEY_READ);
    if (!opened) return false;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(opened.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    if (type != REG_DWORD || size > sizeof(DWORD)) return false;
    DWORD data = 0;
    size = sizeof data;
    if (RegQueryValueExA(opened.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD) {
        return false;
    }
    *value = data;
    return true;
}

void WriteValue(HKEY root, const std::string& key, const std::string& name, DWORD type, const void* data,
                DWORD size) {
    if (RegKey opened = RegKey::Create(root, KeyPath(key))) {
        RegSetValueExA(opened.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    }
}

}  // namespace

RegKey RegKey::Open(HKEY parent, const std::string& path, REGSAM access) {
    RegKey key;
    HKEY handle = nullptr;
    if (RegOpenKeyExA(parent, path.c_str(), 0, access, &handle) == ERROR_SUCCESS) key.key_ = handle;
    return key;
}

RegKey RegKey::Create(HKEY parent, const std::string& path) {
    RegKey key;
    HKEY handle = nullptr;
    if (RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &handle,
                        nullptr) == ERROR_SUCCESS) {
        key.key_ = handle;
    }
    return key;
}

std::string ReadRegString(HKEY root, const std::string& key, const std::string& name, const std::string& fallback) {
    try {
        RegKey opened = RegKey::Open(root, KeyPath(key), KEY_READ);
        if (!opened) return fallback;
        // The value may change between the size query and the read; retry then.
        for (int attempt = 0; attempt < 4; ++attempt) {
            DWORD type = 0;
            DWORD size = 0;
            if (RegQueryValueExA(opened.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
                return fallback;
            }
            if (size == 0) return std::string();
            if (type != REG_SZ && type != REG_EXPAND_SZ) return fallback;
            std::vector<char> buffer(size + 1, '\0');
            LONG status = RegQueryValueExA(opened.get(), name.c_str(), nullptr, &type,
                                           reinterpret_cast<BYTE*>(buffer.data()), &size);
            if (status == ERROR_MORE_DATA) continue;
            if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return fallback;
            // The text ends at its first NUL.
            return std::string(buffer.data());
        }
        return fallback;
    } catch (...) {
        return fallback;
    }
}

bool ReadRegBool(HKEY root, const std::string& key, const std::string& name, bool fallback) {
    try {
        DWORD value = 0;
        return ReadDword(root, key, name, &value) ? value != 0 : fallback;
    } catch (...) {
        return fallback;
    }
}

std::int32_t ReadRegInteger(HKEY root, const std::string& key, const std::string& name, std::int32_t fallback) {
    try {
        DWORD value = 0;
        return ReadDword(root, key, name, &value) ? static_cast<std::int32_t>(value) : fallback;
    } catch (...) {
        return fallback;
    }
}

std::vector<std::string> ReadRegValueNames(HKEY root, const std::string& key, const std::string& subkey,
                                           const std::vector<std::string>& fallback) {
    try {
        RegKey opened = RegKey::Open(root, KeyPath(key), KEY_READ);
        if (!opened) return fallback;
        auto [parent, path] = SubkeyOf(root, opened.get(), subkey);
        RegKey sub = RegKey::Open(parent, path, KEY_READ);
        if (!sub) return fallback;
        return ValueNames(sub.get());
    } catch (...) {
        return fallback;
    }
}

void WriteRegString(HKEY root, const std::string& key, const std::string& name, const std::string& text) {
    try {
        WriteValue(root, key, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
    } catch (...) {
    }
}

void WriteRegBool(HKEY root, const std::string& key, const std::string& name, bool flag) {
    WriteRegInteger(root, key, name, flag ? 1 : 0);
}

void WriteRegInteger(HKEY root, const std::string& key, const std::string& name, std::int32_t value) {
    try {
        WriteValue(root, key, name, REG_DWORD, &value, sizeof value);
    } catch (...) {
    }
}

void WriteRegValueNames(HKEY root, const std::string& key, const std::string& subkey,
                        const std::vector<std::string>& names) {
    try {
        RegKey opened = RegKey::Create(root, KeyPath(key));
        if (!opened) return;
        auto [parent, path] = SubkeyOf(root, opened.get(), subkey);
        DeleteTree(parent, path);
        RegKey sub = RegKey::Create(parent, path);
        if (!sub) return;
        for (const std::string& name : names) {
            RegSetValueExA(sub.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
        }
    } catch (...) {
    }
}

void ClearRegValues(HKEY root, const std::string& key) {
    try {
        RegKey opened = RegKey::Open(root, KeyPath(key), KEY_ALL_ACCESS);
        if (!opened) return;
        for (const std::string& name : ValueNames(opened.get())) RegDeleteValueA(opened.get(), name.c_str());
    } catch (...) {
    }
}

void DeleteRegSubKey(HKEY root, const std::string& key, const std::string& subkey) {
    try {
        RegKey opened = RegKey::Open(root, KeyPath(key), KEY_ALL_ACCESS);
        if (!opened) return;
        auto [parent, path] = SubkeyOf(root, opened.get(), subkey);
        if (path.empty()) return;
        DeleteTree(parent, path);
    } catch (...) {
    }
}

void DeleteRegKey(HKEY root, const std::string& key) {
    try {
        std::string path = KeyPath(key);
        if (path.empty()) return;
        DeleteTree(root, path);
    } catch (...) {
    }
}

void DeleteRegValue(HKEY root, const std::string& key, const std::string& name) {
    try {
        RegKey opened = RegKey::Open(root, KeyPath(key), KEY_SET_VALUE);
        if (opened) RegDeleteValueA(opened.get(), name.c_str());
    } catch (...) {
    }
}

void DeleteRegKeyIfEmpty(HKEY root, const std::string& key) {
    try {
        std::string path = KeyPath(key);
        if (path.empty()) return;
        {
            RegKey opened = RegKey::Open(root, path, KEY_QUERY_VALUE);
            DWORD subkeys = 0;
            DWORD values = 0;
            if (!opened || RegQueryInfoKeyA(opened.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                            &values, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
                subkeys != 0 || values != 0) {
                return;
            }
        }
        RegDeleteKeyA(root, path.c_str());
    } catch (...) {
    }
}

}  // namespace qv
