#pragma once
// Loading the program's messages from its string table and filling their
// printf-style "%s" and "%d" placeholders; text rules shared by the dialogs.
#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

namespace qv {

// The string of that identifier from the program's string table; empty when
// there is none.
std::string LoadStr(unsigned id);

namespace detail {
inline const char* FormatArg(const std::string& s) { return s.c_str(); }
inline const char* FormatArg(const char* s) { return s; }
template <class T, class = std::enable_if_t<std::is_integral_v<T>>>
long long FormatArg(T value) { return static_cast<long long>(value); }
std::string WidenIntegerFormats(const std::string& format);
}  // namespace detail

// Fills a template with its arguments: strings for %s, integers for %d.
template <class... Args>
std::string Format(const std::string& format, const Args&... args) {
    // Integers travel as long long, so %d becomes %lld.
    std::string fmt = detail::WidenIntegerFormats(format);
    int size = std::snprintf(nullptr, 0, fmt.c_str(), detail::FormatArg(args)...);
    if (size <= 0) return size == 0 ? std::string() : format;
    std::vector<char> buffer(static_cast<size_t>(size) + 1);
    std::snprintf(buffer.data(), buffer.size(), fmt.c_str(), detail::FormatArg(args)...);
    return std::string(buffer.data(), static_cast<size_t>(size));
}

// A message of the string table with its placeholders filled.
template <class... Args>
std::string LoadFmt(unsigned id, const Args&... args) {
    return Format(LoadStr(id), args...);
}

// Turns every lone line feed into carriage return and line feed, keeps
// carriage return plus line feed as it stands, and drops one line feed that
// ends the text.
std::string NormalizeLineBreaks(const std::string& text);

// Upper case of the letters a to z only.
std::string UpperAscii(std::string text);

}  // namespace qv
