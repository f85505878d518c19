#pragma once
// Conversions between the program's text and the system's other encodings.
// The program runs with UTF-8 as its active code page, so every 8-bit string
// it holds is UTF-8; the system's wide functions take UTF-16, and files and
// programs of earlier times use the system's legacy ANSI code page.
#include <windows.h>

#include <string>

namespace qv {

// UTF-8 text as UTF-16; a malformed sequence becomes U+FFFD.
std::wstring Utf8ToWide(const std::string& text);
// UTF-16 text as UTF-8; a lone surrogate becomes U+FFFD.
std::string WideToUtf8(const wchar_t* text, size_t length);
inline std::string WideToUtf8(const std::wstring& text) { return WideToUtf8(text.data(), text.size()); }

// The program's own text (in the process's ANSI code page: UTF-8 where
// Windows honours the program's manifest, the legacy code page before
// Windows 10 1903) as UTF-16, and back; a character the code page lacks
// becomes its default character.
std::wstring TextToWide(const std::string& text);
std::string WideToText(const std::wstring& text);

// The system's legacy ANSI code page: the one programs that do not declare
// UTF-8 use (GetACP() answers 65001 in this program), read once from the
// system locale. 1252 when the system names none or names UTF-8 itself, so
// that any byte still has a reading of its own.
UINT LegacyCodePage();

// Bytes of the code page as UTF-16; every byte sequence has a reading.
std::wstring CodePageToWide(UINT codePage, const std::string& bytes);
// The text in the code page when every character has an exact form there:
// no best fit, no default character, and the bytes read back as the same
// text. False otherwise, with `bytes` unspecified.
bool WideToCodePageExact(UINT codePage, const std::wstring& text, std::string* bytes);
// The text in the code page, each character without an exact form there
// replaced by the code page's default character (a question mark): never
// a best fit, which could turn one name into another.
std::string WideToCodePage(UINT codePage, const std::wstring& text);

}  // namespace qv
