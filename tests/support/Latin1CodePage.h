#pragma once
// ISO 8859-1 as a legacy code page for the batch file's text on the build
// host, where there is no system conversion: each byte is the character of
// its number, so every byte has a reading and only U+0000 to U+00FF can be
// written. Windows code pages behave alike for these tests: a byte for each
// character they hold, none for the others.
#include <string>

#include "mainwin/uBatchText.h"

class TLatin1CodePage : public TLegacyCodePage {
public:
    std::string ToUtf8(const std::string& bytes) const override {
        std::string text;
        for (unsigned char c : bytes) {
            if (c < 0x80) {
                text += static_cast<char>(c);
            } else {
                text += static_cast<char>(0xC0 | (c >> 6));
                text += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        return text;
    }
    bool FromUtf8(const std::string& text, std::string* bytes) const override {
        if (!IsValidUtf8(text.data(), text.size())) return false;
        bytes->clear();
        for (size_t i = 0; i < text.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            if (c < 0x80) {
                *bytes += static_cast<char>(c);
            } else if (c == 0xC2 || c == 0xC3) {
                *bytes += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3F));
            } else {
                return false;
            }
        }
        return true;
    }
};
