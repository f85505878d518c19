#include "common/QVVerInf.h"

#include <windows.h>

#include <vector>

#include "common/QVStrings.h"
#include "common/QVVersionResource.h"
#include "resource.h"

namespace {

// The file's version resource as GetFileVersionInfo gives it; empty when
// the file has none or it cannot be read. The bytes are read by
// QVVersionResource's checked reader, never through pointers into them.
std::vector<unsigned char> LoadVersionInfo(const std::string& path) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0) return {};
    std::vector<unsigned char> bytes(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, bytes.data())) return {};
    return bytes;
}

// The value of `name` in the first translation's string table, in the
// system's ANSI code page; empty when there is no translation or no such
// string.
std::string FirstTranslationString(const std::vector<unsigned char>& info, const std::string& name) {
    qv::TTranslation translation;
    std::u16string value;
    if (!qv::ReadFirstTranslation(info.data(), info.size(), &translation) ||
        !qv::ReadVersionString(info.data(), info.size(), qv::TranslationKey(translation), name, &value) ||
        value.empty()) {
        return std::string();
    }
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(value.data());
    const int units = static_cast<int>(value.size());
    int length = WideCharToMultiByte(CP_ACP, 0, wide, units, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, units, &text[0], length, nullptr, nullptr);
    return text;
}

}  // namespace

std::string GetFileVersionText(const std::string& path) {
    const std::vector<unsigned char> info = LoadVersionInfo(path);
    qv::TFileVersion version;
    if (!qv::ReadFixedFileVersion(info.data(), info.size(), &version)) return "0.0.0";
    return qv::Format("%d.%d.%d Build %d", version.major, version.minor, version.release, version.build);
}

std::string GetFileLegalNotice(const std::string& path) {
    const std::vector<unsigned char> info = LoadVersionInfo(path);
    qv::TFileVersion version;
    if (!qv::ReadFixedFileVersion(info.data(), info.size(), &version)) return qv::LoadStr(IDS_DEFAULT_LEGAL_NOTICE);
    return FirstTranslationString(info, "LegalCopyright");
}

QVLanguage GetFileLanguage(const std::string& path) {
    const std::vector<unsigned char> info = LoadVersionInfo(path);
    qv::TTranslation translation;
    if (qv::ReadFirstTranslation(info.data(), info.size(), &translation) &&
        (translation.language == 0x0816 || translation.language == 0x0416)) {
        return qlPortuguese;
    }
    return qlEnglish;
}
