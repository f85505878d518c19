#pragma once
// The two languages the program's own dialogs and texts speak.
#include <cstdint>

enum QVLanguage : std::uint8_t { qlPortuguese = 0, qlEnglish = 1 };
