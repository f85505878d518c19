// The forms of a capture: where each key stands, the .reg file and JSON.
#include "engine/uCapture.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "common/QVCodePage.h"
#include "common/QVStrings.h"

namespace engine {

// ---------------------------------------------------------------------------
// Key paths and value types.

bool StartsWithFolder(const std::string& path, const char* folder, std::string& rest) {
    const size_t length = std::strlen(folder);
    if (path.size() < length || qv::UpperAscii(path.substr(0, length)) != qv::UpperAscii(folder)) return false;
    if (path.size() > length && path[length] != '\\') return false;
    rest = path.size() > length ? path.substr(length + 1) : std::string();
    return true;
}

const char* RegTypeName(std::uint32_t type) {
    switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN: return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK: return "REG_LINK";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_RESOURCE_LIST: return "REG_RESOURCE_LIST";
    case REG_FULL_RESOURCE_DESCRIPTOR: return "REG_FULL_RESOURCE_DESCRIPTOR";
    case REG_RESOURCE_REQUIREMENTS_LIST: return "REG_RESOURCE_REQUIREMENTS_LIST";
    case REG_QWORD: return "REG_QWORD";
    default: return nullptr;
    }
}

// ---------------------------------------------------------------------------
// Placement and the .reg file.

namespace {


// The keys under Software\Classes that Windows keeps apart for 32-bit
// programs (the others, ProgIDs, TypeLib and AppID among them, are shared).
const char* const kRedirectedClasses[] = {"CLSID", "DirectShow", "Interface", "Media Type", "MediaFoundation"};

// A path below Software\Classes, placed in the view of the server.
std::string ClassesPath(const std::string& below, bool wow64) {
    std::string base = "SOFTWARE\\Classes";
    if (below.empty()) return base;
    if (wow64) {
        std::string rest;
        for (const char* redirected : kRedirectedClasses) {
            if (StartsWithFolder(below, redirected, rest)) return base + "\\WOW6432Node\\" + below;
        }
    }
    return base + "\\" + below;
}

std::wstring Quoted(const std::wstring& text) {
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        if (c == L'\\' || c == L'"') out += L'\\';
        out += c;
    }
    return out + L"\"";
}

// A REG_SZ the registry editor writes as a string: whole UTF-16 units, one
// terminating NUL and none before it (or no bytes at all).
bool PlainString(const std::string& data, std::wstring& text) {
    if (data.empty()) {
        text.clear();
        return true;
    }
    if (data.size() % 2 || data.size() < 2) return false;
    std::wstring units(data.size() / 2, L'\0');
    std::memcpy(&units[0], data.data(), data.size());
    if (units.back() != L'\0') return false;
    units.pop_back();
    if (units.find(L'\0') != std::wstring::npos) return false;
    text = units;
    return true;
}

// A REG_SZ that a quoted string in a .reg file gives back byte for byte:
// a plain string of at least its terminating NUL (the importer adds one to
// "", so a value of no bytes is not one), holding no line break or other
// control character and no surrogate out of its pair, which the importer
// would not read back as they are.
bool QuotableString(const std::string& data, std::wstring& text) {
    if (data.empty() || !PlainString(data, text)) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0xDC00 && c <= 0xDFFF)) return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
            ++i;
        }
    }
    return true;
}

// A value's name as it stands before "=": "@" for the default value.
std::wstring RegValueName(const std::wstring& name) { return name.empty() ? L"@" : Quoted(name); }

}  // namespace

std::string PlacedKeyName(TCaptureRoot root, const std::string& path, bool wow64) {
    std::string rest;
    switch (root) {
    case TCaptureRoot::ClassesRoot: return "HKEY_LOCAL_MACHINE\\" + ClassesPath(path, wow64);
    case TCaptureRoot::LocalMachine:
        if (StartsWithFolder(path, "Software\\Classes", rest)) return "HKEY_LOCAL_MACHINE\\" + ClassesPath(rest, wow64);
        if (wow64 && StartsWithFolder(path, "Software", rest) && !rest.empty() &&
            !StartsWithFolder(rest, "WOW6432Node", rest)) {
            return "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\" + path.substr(9);
        }
        return "HKEY_LOCAL_MACHINE\\" + path;
    case TCaptureRoot::CurrentUser:
        if (StartsWithFolder(path, "Software\\Classes", rest) && !rest.empty()) {
            return "HKEY_CURRENT_USER\\Software\\Classes\\" + ClassesPath(rest, wow64).substr(17);
        }
        return "HKEY_CURRENT_USER\\" + path;
    case TCaptureRoot::Users: return "HKEY_USERS\\" + path;
    }
    return path;
}

std::wstring RegValueLine(const std::wstring& name, std::uint32_t type, const std::string& data) {
    std::wstring line = RegValueName(name) + L'=';
    std::wstring text;
    if (type == REG_SZ && QuotableString(data, text)) return line + Quoted(text);
    if (type == REG_DWORD && data.size() == 4) {
        const unsigned char* b = reinterpret_cast<const unsigned char*>(data.data());
        wchar_t number[16];
        std::swprintf(number, 16, L"dword:%08x", b[0] | b[1] << 8 | b[2] << 16 | static_cast<unsigned>(b[3]) << 24);
        return line + number;
    }
    // Every other value as its bytes. A string's bytes without their
    // terminating NUL are written as they are, though no form imports them
    // so: the importer ends string data (hex(1), hex(2), hex(7)) that lacks
    // its NUL with one, which readers of the string do not see.
    if (type == REG_BINARY) {
        line += L"hex:";
    } else {
        wchar_t prefix[24];
        std::swprintf(prefix, 24, L"hex(%x):", type);
        line += prefix;
    }
    // The registry editor's wrapping: a line is broken after the comma that
    // takes it to 77 columns or more, and goes on indented by two blanks.
    size_t column = line.size();
    for (size_t i = 0; i < data.size(); ++i) {
        wchar_t hex[4];
        std::swprintf(hex, 4, L"%02x", static_cast<unsigned char>(data[i]));
        line += hex;
        if (i + 1 == data.size()) break;
        line += L',';
        column += 3;
        if (column >= 77) {
            line += L"\\\r\n  ";
            column = 2;
        }
    }
    return line;
}

std::string RegFileBytes(const std::vector<TCapture>& captures) {
    std::wstring text = L"Windows Registry Editor Version 5.00\r\n";
    for (const TCapture& capture : captures) {
        for (const TCapturedKey& key : capture.keys) {
            // A deleted key is "[-name]", in its place in the list: a key
            // written after it makes it anew.
            text += std::wstring(L"\r\n[") + (key.deleted ? L"-" : L"") +
                    qv::Utf8ToWide(PlacedKeyName(key.root, key.path, key.otherView ? !capture.wow64 : capture.wow64)) + L"]\r\n";
            if (key.deleted) continue;
            for (const TCapturedValue& value : key.values) {
                const std::wstring name = qv::Utf8ToWide(value.name);
                text += (value.deleted ? RegValueName(name) + L"=-" : RegValueLine(name, value.type, value.data)) + L"\r\n";
            }
        }
    }
    text += L"\r\n";
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    return bytes;
}

std::string CaptureJson(const TCapture& capture) {
    std::string out = "{\"file\":" + qv::JsonQuoted(capture.file) + ",\"outcome\":\"" +
                      (capture.clean ? "captured" : "failed") + "\",\"message\":" +
                      qv::JsonQuoted(capture.outcome.message) + ",\"details\":" + qv::JsonQuoted(capture.outcome.details) +
                      ",\"keys\":[";
    for (size_t k = 0; k < capture.keys.size(); ++k) {
        const TCapturedKey& key = capture.keys[k];
        if (k) out += ',';
        out += "{\"key\":" + qv::JsonQuoted(PlacedKeyName(key.root, key.path, key.otherView ? !capture.wow64 : capture.wow64)) +
               (key.deleted ? ",\"deleted\":true" : "") + ",\"values\":[";
        for (size_t v = 0; v < key.values.size() && !key.deleted; ++v) {
            const TCapturedValue& value = key.values[v];
            if (v) out += ',';
            if (value.deleted) {
                out += "{\"name\":" + qv::JsonQuoted(value.name) + ",\"deleted\":true}";
                continue;
            }
            const char* name = RegTypeName(value.type);
            out += "{\"name\":" + qv::JsonQuoted(value.name) + ",\"type\":" +
                   (name ? "\"" + std::string(name) + "\"" : std::to_string(value.type));
            std::wstring text;
            if ((value.type == REG_SZ || value.type == REG_EXPAND_SZ) && PlainString(value.data, text)) {
                out += ",\"data\":" + qv::JsonQuoted(qv::WideToUtf8(text));
            } else {
                std::string hex;
                for (unsigned char c : value.data) {
                    char pair[4];
                    std::snprintf(pair, sizeof pair, "%02x", c);
                    hex += pair;
                }
                out += ",\"hex\":\"" + hex + "\"";
            }
            out += '}';
        }
        out += "]}";
    }
    out += "],\"liveKeys\":[";
    for (size_t i = 0; i < capture.liveKeys.size(); ++i) out += (i ? "," : "") + qv::JsonQuoted(capture.liveKeys[i]);
    return out + "]}";
}

}  // namespace engine
