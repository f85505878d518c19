#pragma once
// Reads a version resource from its bytes, as GetFileVersionInfo returns
// them for a Win32 file: a tree of blocks, each a 16-bit length (the whole
// block, children included), a 16-bit value length (in UTF-16 units for a
// text value, in bytes otherwise), a 16-bit type (1 text, 0 binary), a
// NUL-terminated UTF-16 key, then the value and the children, each starting
// on a 32-bit boundary from the start of the resource. The root's key is
// "VS_VERSION_INFO" and its value the fixed part (VS_FIXEDFILEINFO); its
// children "StringFileInfo" (string tables named by translation, holding
// the strings) and "VarFileInfo" (the "Translation" list of language and
// code page pairs).
//
// The bytes are untrusted: every length is checked against the block that
// holds it and against the data, a block that does not fit ends the search,
// nothing is read outside [data, data + size), and the walk goes at most
// three levels deep with every step moving forward at least 8 bytes. Keys
// match as Windows matches them, ignoring the case of the letters a to z.
// Standard library only, so it builds and runs on any host.
#include <cstddef>
#include <cstdint>
#include <string>

namespace qv {

// The fixed part's first field in a sound resource.
inline constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BDu;
// The size of the fixed part: thirteen 32-bit fields.
inline constexpr std::size_t kFixedInfoBytes = 52;

// The file version of the fixed part, from its high to its low 16 bits.
struct TFileVersion {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t release = 0;
    std::uint16_t build = 0;
};

// One pair of the translation list.
struct TTranslation {
    std::uint16_t language = 0;
    std::uint16_t codePage = 0;
};

// The file version of the fixed part. False, with `version` untouched, when
// the root is damaged, is not "VS_VERSION_INFO", or its value is shorter
// than the fixed part or lacks its signature.
bool ReadFixedFileVersion(const unsigned char* data, std::size_t size, TFileVersion* version);

// The first pair of "\VarFileInfo\Translation". False, with `translation`
// untouched, when there is no such value of at least 4 bytes.
bool ReadFirstTranslation(const unsigned char* data, std::size_t size, TTranslation* translation);

// The name of a translation's string table: language then code page as
// eight upper-case hexadecimal digits ("040904E4").
std::string TranslationKey(const TTranslation& translation);

// The value of the string `name` in the string table `table` of
// "\StringFileInfo", in UTF-16, up to its first NUL or the end of its block.
// A string whose value length is 0 is empty. False, with `value` untouched,
// when the table or the string is not there.
bool ReadVersionString(const unsigned char* data, std::size_t size, const std::string& table,
                       const std::string& name, std::u16string* value);

}  // namespace qv
