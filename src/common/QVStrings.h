#pragma once
// Loading the program's messages from its string table and filling their
// printf-style "%s" and "%d" placeholders; text rules shared by the dialogs.
#include <string>
#include <type_traits>
#include <vector>

namespace qv {

// The string of that identifier from the program's string table; empty when
// there is none.
std::string LoadStr(unsigned id);

namespace detail {
inline std::string FormatArg(const std::string& s) { return s; }
inline std::string FormatArg(const char* s) { return s ? s : ""; }
template <class T, class = std::enable_if_t<std::is_integral_v<T>>>
std::string FormatArg(T value) { return std::to_string(value); }
std::string FillPlaceholders(const std::string& format, const std::vector<std::string>& args);
}  // namespace detail

// Fills a template's "%s" and "%d" placeholders with the arguments in order
// ("%%" is a percent sign). Each argument is shown as text, so a placeholder
// of the other kind cannot misread it; a missing argument leaves the
// placeholder empty.
template <class... Args>
std::string Format(const std::string& format, const Args&... args) {
    return detail::FillPlaceholders(format, {detail::FormatArg(args)...});
}

// A string stored enciphered in the string table (each byte XOR 0xA5,
// written as two hexadecimal digits), deciphered.
std::string LoadEncipheredStr(unsigned id);

// A message of the string table with its placeholders filled.
template <class... Args>
std::string LoadFmt(unsigned id, const Args&... args) {
    return Format(LoadStr(id), args...);
}

// Turns every lone line feed into carriage return and line feed, keeps
// carriage return plus line feed as it stands, and drops one line feed that
// ends the text.
std::string NormalizeLineBreaks(const std::string& text);
// UTF-8 text as a JSON string, quotes included: quote, backslash and the
// control characters escaped, every other byte as it is.
std::string JsonQuoted(const std::string& utf8);

// Upper case of the letters a to z only.
std::string UpperAscii(std::string text);

}  // namespace qv
