#include "common/QVStrings.h"

#include <windows.h>

namespace qv {

std::string LoadStr(unsigned id) {
    // Messages are short; 4 KiB covers the longest by far.
    char buffer[4096];
    int length = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
    return std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}

namespace detail {
std::string WidenIntegerFormats(const std::string& format) {
    std::string out;
    out.reserve(format.size() + 8);
    for (size_t i = 0; i < format.size(); ++i) {
        out += format[i];
        if (format[i] != '%' || i + 1 >= format.size()) continue;
        if (format[i + 1] == '%') {
            out += format[++i];
        } else if (format[i + 1] == 'd') {
            out += "ll";
        }
    }
    return out;
}
}  // namespace detail

std::string NormalizeLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\n') {
            out += c;
        } else if (i + 1 == text.size()) {
            // a final line feed is dropped
        } else if (i > 0 && text[i - 1] == '\r') {
            out += c;
        } else {
            out += "\r\n";
        }
    }
    return out;
}

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

}  // namespace qv

