// reg_round_trip.exe: a capture's .reg file, imported by the system's
// "reg import", gives back every value as captured (type and bytes), and its
// deletions delete. Two files under HKEY_CURRENT_USER\Software\Corvantis
// RegRoundTrip: the first writes every form of value, and keys and values
// the second deletes; the second deletes a key with its subkey, deletes one
// and writes it anew, and deletes a named and a default value.
//   reg_round_trip.exe write <folder>   clears the test key, writes first.reg and second.reg there
//   reg_round_trip.exe check 1|2        compares the test key with what the first (then the second) file leaves
// Exit code 0 when equal; 1 with each difference on standard output.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/QVCodePage.h"
#include "engine/uCapture.h"

namespace {

using engine::TCapturedKey;
using engine::TCaptureRoot;
const char* const kBase = "Software\\Corvantis RegRoundTrip";

// UTF-16LE bytes of `text`, with its terminating NUL when `nul`.
std::string U(const std::wstring& text, bool nul = true) {
    std::string out(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    return nul ? out + std::string(2, '\0') : out;
}

TCapturedKey Key(const std::string& path, std::vector<engine::TCapturedValue> values, bool deleted = false) {
    return {TCaptureRoot::CurrentUser, std::string(kBase) + "\\" + path, std::move(values), false, deleted};
}

std::vector<TCapturedKey> FirstFile() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    return {
        Key("Values",
            {{"", REG_SZ, U(L"default \"quoted\" \\ back")},
             {"Plain", REG_SZ, U(L"C:\\a b\\x.dll")},
             {"Na\"me \\ with \\\\ \"quotes\"", REG_SZ, U(L"x")},
             {"Unicode", REG_SZ, U(L"\u00e9\u6f22\U0001F600")},
             {"EmptyString", REG_SZ, U(L"")},
             {"NoBytes", REG_SZ, ""},
             {"NoNul", REG_SZ, U(L"ab", false)},
             {"InnerNul", REG_SZ, U(L"a") + U(L"b")},
             {"TwoNuls", REG_SZ, U(L"a") + U(L"")},
             {"LineBreak", REG_SZ, U(L"one\r\ntwo")},
             {"Control", REG_SZ, U(L"\t\x1b\x85")},
             {"LoneSurrogate", REG_SZ, U(L"\xD800")},
             {"Long", REG_SZ, U(std::wstring(4000, L'L') + L"\"\\")},
             {"LongBreak", REG_SZ, U(std::wstring(1000, L'B') + L"\n")},
             {"Expand", REG_EXPAND_SZ, U(L"%SystemRoot%\\x.dll")},
             {"ExpandEmpty", REG_EXPAND_SZ, ""},
             {"Multi", REG_MULTI_SZ, U(L"a") + U(L"b") + U(L"")},
             {"MultiEmpty", REG_MULTI_SZ, ""},
             {"Dword", REG_DWORD, "\x78\x56\x34\x12"},
             {"DwordShort", REG_DWORD, "\x01\x02"},
             {"Qword", REG_QWORD, std::string("\x01\0\0\0\0\0\0\x80", 8)},
             {"Binary", REG_BINARY, bytes},
             {"BinaryEmpty", REG_BINARY, ""},
             {"None", REG_NONE, "\x07"},
             {"NoneEmpty", REG_NONE, ""},
             {"BigEndian", REG_DWORD_BIG_ENDIAN, "\x12\x34\x56\x78"},
             {"Custom", 0x1234, "\x09\x08"}}),
        Key("Doomed", {{"V", REG_SZ, U(L"v")}}),
        Key("Doomed\\Child", {{"V", REG_SZ, U(L"v")}}),
        Key("Again", {{"Old", REG_SZ, U(L"old")}}),
        Key("Trim", {{"", REG_SZ, U(L"default")}, {"Gone", REG_DWORD, "\1\0\0\0"}, {"Kept", REG_SZ, U(L"kept")}}),
    };
}

std::vector<TCapturedKey> SecondFile() {
    return {Key("Doomed", {}, true), Key("Again", {}, true), Key("Again", {{"New", REG_SZ, U(L"new")}}),
            Key("Trim", {{"", 0, "", true}, {"Gone", 0, "", true}})};
}

// The test key after the file of `stage`: its keys with all their values;
// a key without values here must be absent.
std::vector<TCapturedKey> Expected(int stage) {
    std::vector<TCapturedKey> keys = FirstFile();
    // No form imports a string without its terminating NUL as it is: the
    // importer adds the NUL to string data that lacks one (hex(1) is the
    // nearest form, and readers of strings see no difference).
    for (engine::TCapturedValue& value : keys[0].values) {
        if (value.name == "NoNul") value.data += std::string(2, '\0');
    }
    if (stage == 1) return keys;
    return {keys[0], Key("Doomed", {}), Key("Again", {{"New", REG_SZ, U(L"new")}}), Key("Trim", {keys[4].values[2]})};
}

bool WriteFile(const std::string& path, const std::vector<TCapturedKey>& keys) {
    engine::TCapture capture;
    capture.keys = keys;
    const std::string bytes = engine::RegFileBytes({capture});
    FILE* file = std::fopen(path.c_str(), "wb");
    const bool written = file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return file && std::fclose(file) == 0 && written;
}

// The key's values (name, type and bytes); false when the key is absent.
bool ReadValues(const std::string& path, std::map<std::wstring, std::pair<DWORD, std::string>>& values) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, qv::Utf8ToWide(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(1 << 16);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size()), size = static_cast<DWORD>(data.size()), type = 0;
        if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
        values[std::wstring(name.data(), nameLength)] = {type, std::string(reinterpret_cast<char*>(data.data()), size)};
    }
    RegCloseKey(key);
    return true;
}

int Check(int stage) {
    int differences = 0;
    auto differ = [&](const std::string& what) {
        std::printf("%s\n", what.c_str());
        ++differences;
    };
    for (const TCapturedKey& key : Expected(stage)) {
        std::map<std::wstring, std::pair<DWORD, std::string>> values;
        const bool present = ReadValues(key.path, values);
        if (key.values.empty()) {
            if (present) differ(key.path + ": not deleted");
            continue;
        }
        if (!present) differ(key.path + ": missing");
        for (const engine::TCapturedValue& value : key.values) {
            const std::string where = key.path + " value \"" + value.name + "\"";
            const auto found = values.find(qv::Utf8ToWide(value.name));
            if (found == values.end()) {
                differ(where + ": missing");
                continue;
            }
            if (found->second.first != value.type) differ(where + ": type " + std::to_string(found->second.first));
            if (found->second.second != value.data) {
                differ(where + ": " + std::to_string(found->second.second.size()) + " bytes differ from the " +
                       std::to_string(value.data.size()) + " written");
            }
            values.erase(found);
        }
        for (const auto& extra : values) differ(key.path + " value \"" + qv::WideToUtf8(extra.first) + "\": not expected");
    }
    return differences ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "write") == 0) {
        RegDeleteTreeA(HKEY_CURRENT_USER, kBase);
        const std::string folder = std::string(argv[2]) + "\\";
        return WriteFile(folder + "first.reg", FirstFile()) && WriteFile(folder + "second.reg", SecondFile()) ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "check") == 0) return Check(std::atoi(argv[2]));
    std::fprintf(stderr, "usage: reg_round_trip.exe write <folder> | check 1|2\n");
    return 2;
}
