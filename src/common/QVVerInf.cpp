#include "common/QVVerInf.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "common/QVStrings.h"
#include "resource.h"

namespace {

// The version resource of the file last loaded (one at a time).
std::vector<char> VersionInfo;

bool LoadVersionInfo(const std::string& path) {
    VersionInfo.clear();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0) return false;
    VersionInfo.resize(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, VersionInfo.data())) {
        VersionInfo.clear();
        return false;
    }
    return true;
}

void ReleaseVersionInfo() { std::vector<char>().swap(VersionInfo); }

const VS_FIXEDFILEINFO* FixedInfo() {
    void* data = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(VersionInfo.data(), "\\", &data, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
        return nullptr;
    }
    return static_cast<const VS_FIXEDFILEINFO*>(data);
}

// The first (language, code page) pair; false when there is none.
bool FirstTranslation(WORD* language, WORD* codePage) {
    void* data = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(VersionInfo.data(), "\\VarFileInfo\\Translation", &data, &length) || length < 4) {
        return false;
    }
    const WORD* pair = static_cast<const WORD*>(data);
    *language = pair[0];
    *codePage = pair[1];
    return true;
}

std::string QueryVersionString(const std::string& name) {
    WORD language = 0;
    WORD codePage = 0;
    if (!FirstTranslation(&language, &codePage)) return std::string();
    char key[16];
    std::snprintf(key, sizeof key, "%08lX", (static_cast<unsigned long>(language) << 16) + codePage);
    void* data = nullptr;
    UINT length = 0;
    std::string block = std::string("\\StringFileInfo\\") + key + "\\" + name;
    if (!VerQueryValueA(VersionInfo.data(), block.c_str(), &data, &length) || !data) return std::string();
    return std::string(static_cast<const char*>(data));
}

}  // namespace

std::string GetFileVersionText(const std::string& path) {
    std::string text = "0.0.0";
    if (LoadVersionInfo(path)) {
        if (const VS_FIXEDFILEINFO* fixed = FixedInfo()) {
            text = qv::Format("%d.%d.%d Build %d", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                              HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
        }
    }
    ReleaseVersionInfo();
    return text;
}

std::string GetFileLegalNotice(const std::string& path) {
    std::string notice = qv::LoadStr(IDS_DEFAULT_LEGAL_NOTICE);
    if (LoadVersionInfo(path) && FixedInfo()) notice = QueryVersionString("LegalCopyright");
    ReleaseVersionInfo();
    return notice;
}

QVLanguage GetFileLanguage(const std::string& path) {
    QVLanguage result = qlEnglish;
    WORD language = 0;
    WORD codePage = 0;
    if (LoadVersionInfo(path) && FirstTranslation(&language, &codePage)) {
        if (language == 0x0816 || language == 0x0416) result = qlPortuguese;
    }
    ReleaseVersionInfo();
    return result;
}
