#include "common/QVCodePage.h"

#include <climits>

namespace qv {

namespace {

// The system's conversions count in int: longer texts are refused as
// unconvertible rather than cut.
bool Fits(size_t length) { return length <= static_cast<size_t>(INT_MAX); }

std::wstring ToWide(UINT codePage, DWORD flags, const std::string& bytes) {
    if (bytes.empty() || !Fits(bytes.size())) return std::wstring();
    const int size = static_cast<int>(bytes.size());
    int length = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    length = MultiByteToWideChar(codePage, flags, bytes.data(), size, &wide[0], length);
    wide.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return wide;
}

}  // namespace

std::wstring Utf8ToWide(const std::string& text) { return ToWide(CP_UTF8, 0, text); }

std::string WideToUtf8(const wchar_t* text, size_t length) {
    if (length == 0 || !Fits(length)) return std::string();
    const int size = static_cast<int>(length);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::string();
    std::string out(static_cast<size_t>(bytes), '\0');
    bytes = WideCharToMultiByte(CP_UTF8, 0, text, size, &out[0], bytes, nullptr, nullptr);
    out.resize(bytes > 0 ? static_cast<size_t>(bytes) : 0);
    return out;
}

UINT LegacyCodePage() {
    static const UINT codePage = [] {
        DWORD number = 0;
        if (GetLocaleInfoEx(LOCALE_NAME_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                            reinterpret_cast<LPWSTR>(&number), sizeof number / sizeof(WCHAR)) == 0 &&
            GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                           reinterpret_cast<LPWSTR>(&number), sizeof number / sizeof(WCHAR)) == 0) {
            number = 0;
        }
        // CP_ACP (0) and the UTF-8 of "Beta: Use Unicode UTF-8" give no
        // byte-for-byte reading of older files.
        if (number == 0 || number == CP_UTF8 || !IsValidCodePage(number)) return UINT(1252);
        return static_cast<UINT>(number);
    }();
    return codePage;
}

std::wstring CodePageToWide(UINT codePage, const std::string& bytes) { return ToWide(codePage, 0, bytes); }

bool WideToCodePageExact(UINT codePage, const std::wstring& text, std::string* bytes) {
    bytes->clear();
    if (text.empty()) return true;
    if (!Fits(text.size())) return false;
    const int size = static_cast<int>(text.size());
    // UTF-8 and UTF-7 take neither the flag nor the used-default check; the
    // round trip below still decides.
    const bool utf = codePage == CP_UTF8 || codePage == CP_UTF7;
    const DWORD flags = utf ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* used = utf ? nullptr : &usedDefault;
    int length = WideCharToMultiByte(codePage, flags, text.data(), size, nullptr, 0, nullptr, used);
    if (length <= 0 || usedDefault) return false;
    bytes->assign(static_cast<size_t>(length), '\0');
    length = WideCharToMultiByte(codePage, flags, text.data(), size, &(*bytes)[0], length, nullptr, used);
    if (length <= 0 || usedDefault) return false;
    bytes->resize(static_cast<size_t>(length));
    return ToWide(codePage, 0, *bytes) == text;
}

std::string WideToCodePage(UINT codePage, const std::wstring& text) {
    if (text.empty() || !Fits(text.size())) return std::string();
    const int size = static_cast<int>(text.size());
    const DWORD flags = codePage == CP_UTF8 || codePage == CP_UTF7 ? 0 : WC_NO_BEST_FIT_CHARS;
    int length = WideCharToMultiByte(codePage, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string bytes(static_cast<size_t>(length), '\0');
    length = WideCharToMultiByte(codePage, flags, text.data(), size, &bytes[0], length, nullptr, nullptr);
    bytes.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return bytes;
}

// The code page by its number: UTF-8 takes other conversion flags than the
// rest, which CP_ACP would hide.
std::wstring TextToWide(const std::string& text) { return CodePageToWide(GetACP(), text); }

std::string WideToText(const std::wstring& text) { return WideToCodePage(GetACP(), text); }

}  // namespace qv
