#include "support/RegSnapshot.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace testenv {

namespace {

std::wstring Lower(std::wstring text) {
    CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// Reads the key and everything below it into `out`, leaving out the keys
// named (lower case, as in the snapshot) in `skip`. One query for the
// lengths, then plain enumerations: a few registry calls per key.
void ReadAll(HKEY key, const std::wstring& name, REGSAM view, const std::vector<std::wstring>& skip, TRegSnapshot& out) {
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

}  // namespace

TRegSnapshot RegistrySnapshot() {
    TRegSnapshot out;
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

std::string SnapshotDifferences(const TRegSnapshot& before, const TRegSnapshot& after, int most) {
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

}  // namespace testenv
