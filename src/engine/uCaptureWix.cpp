// The capture as a WiX v4 fragment (the rules are in uCaptureWix.h).
#include "engine/uCaptureWix.h"

#include "common/QVIdentifiers.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/QVCodePage.h"
#include "common/QVStrings.h"
#include "engine/uPeFile.h"
#include "engine/uRegCore.h"

namespace engine {

namespace {

std::uint64_t Fnv1a(const std::string& bytes) {
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 0x100000001B3ull;
    }
    return hash;
}

std::string Hex16(std::uint64_t value) {
    char text[20];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(value));
    return text;
}

// A GUID of 128 bits of hashes, marked as version 8 (custom) of the RFC 4122
// variant.
std::string NameGuid(const std::string& key) {
    const std::uint64_t a = Fnv1a(key + "|guid"), b = Fnv1a(key + "|guid2");
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%012llX}", static_cast<unsigned>(a >> 32),
                  static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>((a & 0x0FFF) | 0x8000),
                  static_cast<unsigned>(((b >> 48) & 0x3FFF) | 0x8000),
                  static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
    return text;
}

std::string XmlEscaped(const std::string& utf8) {
    std::string out;
    for (char c : utf8) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        // Kept through attribute-value normalization.
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default: out += c;
        }
    }
    return out;
}

// Characters XML 1.0 can carry; surrogates only in pairs.
bool XmlCarries(const std::wstring& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c < 0x20 && c != L'\t' && c != L'\n' && c != L'\r') return false;
        if (c == 0xFFFE || c == 0xFFFF) return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

std::wstring Units(const std::string& data) {
    std::wstring units(data.size() / 2, L'\0');
    if (!units.empty()) std::memcpy(&units[0], data.data(), units.size() * 2);
    return units;
}


// Where a captured key goes: its root and key in the fragment, and whether
// it names the 32-bit view itself (under WOW6432Node, which is left out).
struct TPlacedKey {
    const char* root;
    std::string key;
    bool forced32 = false;
};

std::string Joined(const char* base, const std::string& rest) { return rest.empty() ? base : std::string(base) + "\\" + rest; }

// "Software\Classes\..." of a root, with a WOW6432Node folder after
// "Software\Classes" or "Software" taken out.
TPlacedKey UnderRoot(const char* root, const std::string& path) {
    std::string rest, below;
    if (StartsWithFolder(path, "Software\\Classes", rest)) {
        if (StartsWithFolder(rest, "WOW6432Node", below)) return {root, Joined("Software\\Classes", below), true};
        return {root, Joined("Software\\Classes", rest)};
    }
    if (StartsWithFolder(path, "Software", rest) && StartsWithFolder(rest, "WOW6432Node", below)) {
        return {root, Joined("Software", below), true};
    }
    return {root, path};
}

TPlacedKey PlaceKey(TCaptureRoot root, const std::string& path) {
    switch (root) {
    case TCaptureRoot::ClassesRoot: {
        std::string below;
        if (StartsWithFolder(path, "WOW6432Node", below)) return {"HKLM", Joined("Software\\Classes", below), true};
        return {"HKLM", Joined("Software\\Classes", path)};
    }
    case TCaptureRoot::LocalMachine: return UnderRoot("HKLM", path);
    case TCaptureRoot::CurrentUser: return UnderRoot("HKCU", path);
    case TCaptureRoot::Users: return {"HKU", path};
    }
    return {"HKLM", path};
}

// The server's path and folder, in every form a registration may have
// written them, and what stands for them in the fragment.
struct TPathNames {
    std::vector<std::wstring> files;    // longest first
    std::vector<std::wstring> folders;  // without a trailing backslash
    std::wstring fileRef;               // "[#fil...]"
    std::wstring folderRef;             // "[INSTALLFOLDER]"
};

bool NameChar(wchar_t c) { return iswalnum(c) || c == L'_' || c == L'.' || c == L'-'; }

// Length of `what` at `at` in `text` (ignoring case), or 0.
bool MatchesAt(const std::wstring& text, size_t at, const std::wstring& what) {
    return !what.empty() && at + what.size() <= text.size() &&
           CompareStringOrdinal(text.data() + at, static_cast<int>(what.size()), what.data(),
                                static_cast<int>(what.size()), TRUE) == CSTR_EQUAL;
}

// `text` as Windows Installer formatted text: brackets escaped, and the
// server's path and folder (when `names` is given) written as references.
std::wstring Formatted(const std::wstring& text, const TPathNames* names) {
    std::wstring out;
    size_t i = 0;
    while (i < text.size()) {
        if (names && (i == 0 || !iswalnum(text[i - 1]))) {
            bool done = false;
            for (const std::wstring& file : names->files) {
                const size_t end = i + file.size();
                if (MatchesAt(text, i, file) && (end == text.size() || !NameChar(text[end]))) {
                    out += names->fileRef;
                    i = end;
                    done = true;
                    break;
                }
            }
            if (!done) {
                for (const std::wstring& folder : names->folders) {
                    size_t end = i + folder.size();
                    if (MatchesAt(text, i, folder) && (end == text.size() || !NameChar(text[end]))) {
                        // The folder reference ends with a backslash already.
                        if (end < text.size() && text[end] == L'\\') ++end;
                        out += names->folderRef;
                        i = end;
                        done = true;
                        break;
                    }
                }
            }
            if (done) continue;
        }
        const wchar_t c = text[i++];
        if (c == L'[') {
            out += L"[\\[]";
        } else if (c == L']') {
            out += L"[\\]]";
        } else {
            out += c;
        }
    }
    return out;
}

// Windows Installer removes braces around text holding a resolved bracket
// (and all of it when one does not resolve): such text cannot pass through.
bool BracesAroundBrackets(const std::wstring& formatted) {
    for (size_t open = formatted.find(L'{'); open != std::wstring::npos; open = formatted.find(L'{', open + 1)) {
        const size_t close = formatted.find(L'}', open);
        if (close == std::wstring::npos) return false;
        if (formatted.find(L'[', open) < close) return true;
    }
    return false;
}


std::string TypeText(std::uint32_t type) {
    const char* name = RegTypeName(type);
    return name ? name : "type " + std::to_string(type);
}

// One value row, or why there is none (`problem`); `note` is a problem of a
// value written all the same.
struct TValueRow {
    std::string xml;
    std::string problem;
    std::string note;
};

// Formatted, checked text for an attribute; false (with `problem`) when it
// cannot be one.
bool FormattedAttribute(const std::wstring& text, const TPathNames* names, std::string& attribute, std::string& problem) {
    if (!XmlCarries(text)) {
        problem = "holds characters XML cannot carry";
        return false;
    }
    const std::wstring formatted = Formatted(text, names);
    if (BracesAroundBrackets(formatted)) {
        problem = "holds braces around brackets or the server's path, which Windows Installer would not keep";
        return false;
    }
    attribute = XmlEscaped(qv::WideToUtf8(formatted));
    return true;
}

TValueRow ValueRow(const TCapturedValue& value, const TPathNames& names, const std::string& indent, bool keyPath) {
    TValueRow row;
    std::string name;
    if (!FormattedAttribute(qv::Utf8ToWide(value.name), nullptr, name, row.problem)) {
        row.problem = "its name " + row.problem;
        return row;
    }
    std::string head = indent + "<RegistryValue";
    if (!value.name.empty()) head += " Name=\"" + name + "\"";
    const std::string tail = keyPath ? " KeyPath=\"yes\"" : "";
    switch (value.type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        if (value.data.size() % 2) {
            row.problem = "a " + TypeText(value.type) + " of an odd number of bytes cannot be written as text";
            return row;
        }
        std::wstring text = Units(value.data);
        if (!text.empty() && text.back() == L'\0') {
            text.pop_back();
        } else if (!value.data.empty()) {
            row.note = "written with the terminating NUL the captured string lacks";
        }
        if (text.find(L'\0') != std::wstring::npos) {
            row.problem = "a " + TypeText(value.type) + " with a NUL inside cannot be written as text";
            return row;
        }
        if (text.empty() && value.type == REG_SZ && (value.name == "+" || value.name == "-" || value.name == "*")) {
            row.problem = "an empty value named \"" + value.name + "\" is a key operation to Windows Installer";
            return row;
        }
        std::string attribute;
        if (!FormattedAttribute(text, &names, attribute, row.problem)) return row;
        row.xml = head + " Type=\"" + (value.type == REG_SZ ? "string" : "expandable") + "\" Value=\"" + attribute + "\"" +
                  tail + " />\r\n";
        return row;
    }
    case REG_MULTI_SZ: {
        if (value.data.size() % 2) {
            row.problem = "a REG_MULTI_SZ of an odd number of bytes cannot be written as strings";
            return row;
        }
        // The strings, each ended by a NUL, and a NUL after the last.
        std::vector<std::wstring> items;
        std::wstring units = Units(value.data);
        size_t start = 0;
        for (size_t end; (end = units.find(L'\0', start)) != std::wstring::npos; start = end + 1) {
            items.push_back(units.substr(start, end - start));
        }
        if (start < units.size()) items.push_back(units.substr(start));
        while (!items.empty() && items.back().empty()) items.pop_back();
        if (items.empty()) {
            row.problem = "Windows Installer cannot write an empty REG_MULTI_SZ";
            return row;
        }
        for (const std::wstring& item : items) {
            if (item.empty()) {
                row.problem = "Windows Installer cannot write an empty string inside a REG_MULTI_SZ";
                return row;
            }
        }
        if (items.front()[0] == L'#') {
            row.problem = "a REG_MULTI_SZ whose first string begins with \"#\" would be read as another type";
            return row;
        }
        std::string xml = head + " Type=\"multiString\"" + tail + ">\r\n";
        for (const std::wstring& item : items) {
            std::string attribute;
            if (!FormattedAttribute(item, &names, attribute, row.problem)) return row;
            xml += indent + "  <MultiStringValue Value=\"" + attribute + "\" />\r\n";
        }
        row.xml = xml + indent + "</RegistryValue>\r\n";
        return row;
    }
    case REG_DWORD: {
        if (value.data.size() != 4) {
            row.problem = "a REG_DWORD of " + std::to_string(value.data.size()) + " bytes cannot be written as a number";
            return row;
        }
        const unsigned char* b = reinterpret_cast<const unsigned char*>(value.data.data());
        const std::uint32_t number = b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
        // Windows Installer reads the number as a signed 32-bit one.
        row.xml = head + " Type=\"integer\" Value=\"" + std::to_string(static_cast<std::int32_t>(number)) + "\"" + tail +
                  " />\r\n";
        return row;
    }
    case REG_BINARY: {
        if (value.data.empty()) {
            row.problem = "Windows Installer cannot write an empty REG_BINARY";
            return row;
        }
        std::string hex;
        for (unsigned char c : value.data) {
            char pair[4];
            std::snprintf(pair, sizeof pair, "%02X", c);
            hex += pair;
        }
        row.xml = head + " Type=\"binary\" Value=\"" + hex + "\"" + tail + " />\r\n";
        return row;
    }
    default:
        row.problem = "Windows Installer cannot write a " + TypeText(value.type) + " value";
        return row;
    }
}

// The server's bitness: its header's machine, or (for a type library, or a
// file that can no longer be read) the view its capture was made in.
bool Is64Bit(const TCapture& capture, const std::string& nativePath) {
    const pe::TPeInfo info = pe::ReadPeFile(nativePath, 4096);
    if (info.isPe && info.machine == pe::TMachine::X86) return false;
    if (info.isPe && (info.machine == pe::TMachine::X64 || info.machine == pe::TMachine::Arm64)) return true;
    if (capture.wow64) return false;
    BOOL wow64 = FALSE;
    return sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

std::string Where(const TPlacedKey& key, const TCapturedValue* value) {
    std::string where = key.root + std::string("\\") + key.key;
    if (value) where += value->name.empty() ? " (default value)" : " value \"" + value->name + "\"";
    return where;
}

struct TComponent {
    std::string id, guid;
    bool is64 = false;
    std::string body;  // RegistryKey elements
    bool keyPathGiven = false;
};

}  // namespace

bool IsWixIdentifier(const std::string& id) { return qv::IsInstallerIdentifier(id); }

TWxsResult WxsFragment(const std::vector<TCapture>& captures, const std::string& folderId) {
    TWxsResult result;
    if (!IsWixIdentifier(folderId)) {
        result.problems.push_back("The folder id \"" + folderId +
                                  "\" is not an identifier (a letter or \"_\", then letters, digits, \"_\" and \".\").");
        return result;
    }
    std::string directory, group;
    std::vector<std::string> keysSeen, filesSeen;
    for (const TCapture& capture : captures) {
        const std::string fullPath = FullPathOf(capture.file);
        const std::wstring wideFull = qv::TextToWide(fullPath);
        const std::string shownFile = qv::WideToUtf8(wideFull);
        auto problem = [&](const std::string& text) { result.problems.push_back("'" + shownFile + "': " + text); };
        if (!capture.clean) {
            problem("not captured, left out (" + qv::WideToUtf8(qv::TextToWide(capture.outcome.message)) + ").");
            continue;
        }
        const std::wstring fileName = qv::TextToWide(ExtractFileName(fullPath));
        const std::string fileNameUtf8 = qv::WideToUtf8(fileName);
        if (!XmlCarries(wideFull) || fileName.empty()) {
            problem("its path cannot be written in the fragment; left out.");
            continue;
        }
        const std::string key = qv::UpperAscii(folderId + "\\" + fileNameUtf8);
        bool duplicate = false;
        for (size_t i = 0; i < keysSeen.size(); ++i) {
            if (keysSeen[i] == key) {
                problem("would be installed as the same file as '" + filesSeen[i] + "' (" + fileNameUtf8 + " in " +
                        folderId + "); left out.");
                duplicate = true;
            }
        }
        if (duplicate) continue;
        keysSeen.push_back(key);
        filesSeen.push_back(shownFile);

        const std::string hash = Hex16(Fnv1a(key));
        const std::string fileId = "fil" + hash;
        TPathNames names;
        names.fileRef = L"[#" + qv::Utf8ToWide(fileId) + L"]";
        names.folderRef = L"[" + qv::Utf8ToWide(folderId) + L"]";
        const std::string nativePath = NativeViewOf(fullPath);
        for (const std::string& path : {fullPath, nativePath}) {
            std::wstring wide = qv::TextToWide(path);
            char shortPath[MAX_PATH];
            const DWORD got = GetShortPathNameA(path.c_str(), shortPath, MAX_PATH);
            for (const std::wstring& form : {wide, got && got < MAX_PATH ? qv::TextToWide(shortPath) : std::wstring()}) {
                if (form.empty()) continue;
                const size_t cut = form.find_last_of(L'\\');
                names.files.push_back(form);
                // A drive's root ("C:") is no folder of the server's own.
                const std::wstring folder = form.substr(0, cut == std::wstring::npos ? 0 : cut);
                if (folder.find(L'\\') != std::wstring::npos) names.folders.push_back(folder);
            }
        }
        // Longest first, so that a longer form wins over its own beginning.
        auto longestFirst = [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); };
        std::sort(names.files.begin(), names.files.end(), longestFirst);
        std::sort(names.folders.begin(), names.folders.end(), longestFirst);

        TComponent own, other;
        own.is64 = Is64Bit(capture, nativePath);
        own.id = "cmp" + hash;
        own.guid = NameGuid(key);
        other.is64 = !own.is64;
        other.id = "cmo" + hash;
        other.guid = NameGuid(key + "|other");
        for (const TCapturedKey& captured : capture.keys) {
            const TPlacedKey placed = PlaceKey(captured.root, captured.path);
            const bool is64 = placed.forced32 ? false : captured.otherView ? !own.is64 : own.is64;
            TComponent& component = is64 == own.is64 ? own : other;
            std::string keyAttribute, why;
            if (!FormattedAttribute(qv::Utf8ToWide(placed.key), nullptr, keyAttribute, why)) {
                problem(Where(placed, nullptr) + ": the key " + why + "; left out with its values.");
                continue;
            }
            // Deletions are rows of the component itself (the schema allows
            // them nowhere else), each before the key's own RegistryKey.
            // Windows Installer removes (RemoveRegistryValues) before it
            // writes (WriteRegistryValues) whatever their order here, which
            // is what a capture means: it lists a key's deletion before
            // any key that writes it anew.
            const std::string where = " Root=\"" + std::string(placed.root) + "\" Key=\"" + keyAttribute + "\"";
            if (captured.deleted) {
                component.body += "        <RemoveRegistryKey" + where + " Action=\"removeOnInstall\" />\r\n";
                continue;
            }
            const std::string open = "        <RegistryKey" + where;
            if (captured.values.empty()) {
                component.body += open + " ForceCreateOnInstall=\"yes\" />\r\n";
                continue;
            }
            std::string rows, removals;
            for (const TCapturedValue& value : captured.values) {
                if (value.deleted) {
                    std::string name, why;
                    if (value.name == "-") {
                        problem(Where(placed, &value) + ": a value named \"-\" cannot be removed alone, Windows Installer "
                                "would remove the key; left out.");
                    } else if (!FormattedAttribute(qv::Utf8ToWide(value.name), nullptr, name, why)) {
                        problem(Where(placed, &value) + ": its name " + why + "; left out.");
                    } else {
                        removals += "        <RemoveRegistryValue" + where + (value.name.empty() ? "" : " Name=\"" + name + "\"") +
                                    " />\r\n";
                    }
                    continue;
                }
                // A registry-only component takes its first value as key path.
                const bool keyPath = &component == &other && !component.keyPathGiven;
                TValueRow row = ValueRow(value, names, "          ", keyPath);
                if (!row.problem.empty()) {
                    problem(Where(placed, &value) + ": " + row.problem + "; left out.");
                    continue;
                }
                if (!row.note.empty()) problem(Where(placed, &value) + ": " + row.note + ".");
                if (keyPath) component.keyPathGiven = true;
                rows += row.xml;
            }
            component.body += removals + (rows.empty() ? open + " ForceCreateOnInstall=\"yes\" />\r\n"
                                                       : open + ">\r\n" + rows + "        </RegistryKey>\r\n");
        }
        auto bitness = [](bool is64) { return is64 ? "always64" : "always32"; };
        directory += "      <Component Id=\"" + own.id + "\" Guid=\"" + own.guid + "\" Bitness=\"" + bitness(own.is64) + "\">\r\n" +
                     "        <File Id=\"" + fileId + "\" Name=\"" + XmlEscaped(fileNameUtf8) + "\" Source=\"" +
                     XmlEscaped(shownFile) + "\" KeyPath=\"yes\" />\r\n" + own.body + "      </Component>\r\n";
        group += "      <ComponentRef Id=\"" + own.id + "\" />\r\n";
        if (!other.body.empty()) {
            directory += "      <Component Id=\"" + other.id + "\" Guid=\"" + other.guid + "\" Bitness=\"" +
                         bitness(other.is64) + "\">\r\n" + other.body + "      </Component>\r\n";
            group += "      <ComponentRef Id=\"" + other.id + "\" />\r\n";
        }
    }
    result.text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                  "<!-- The registry entries of COM servers, as their registration writes them (Corvantis capture). -->\r\n"
                  "<Wix xmlns=\"http://wixtoolset.org/schemas/v4/wxs\">\r\n"
                  "  <Fragment>\r\n"
                  "    <DirectoryRef Id=\"" + folderId + "\">\r\n" + directory +
                  "    </DirectoryRef>\r\n"
                  "    <ComponentGroup Id=\"CapturedServers." + folderId + "\">\r\n" + group +
                  "    </ComponentGroup>\r\n"
                  "  </Fragment>\r\n"
                  "</Wix>\r\n";
    return result;
}

}  // namespace engine
