#pragma once
// Reads what matters for registration from a Windows program file without
// loading it: whether it is one at all, the machine it was built for, DLL or
// EXE, the two registration exports, a .NET runtime header and the names of
// the DLLs it imports.
//
// The bytes are untrusted. Every offset and size read from them is checked
// against the data given before it is used, loops are bounded, and nothing
// is read outside [data, data + size). The reader uses the C++ standard
// library only, so it builds and runs on any host.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace engine::pe {

enum class TMachine { None, X86, X64, Arm64, Other };

struct TPeInfo {
    // True when the headers a loader needs are whole and consistent: the DOS
    // header, the "PE\0\0" signature, the file header, the optional header
    // and the section table. When false, only `problem` is meaningful.
    bool isPe = false;
    TMachine machine = TMachine::None;
    std::uint16_t machineCode = 0;  // the file header's raw machine field
    bool isPe32Plus = false;        // 64-bit optional header layout
    bool isDll = false;
    bool exportsRegister = false;    // "DllRegisterServer" among the export names
    bool exportsUnregister = false;  // "DllUnregisterServer" among the export names
    bool hasClrHeader = false;       // the .NET runtime header's directory is not empty
    // Imported DLL names in the import table's order, as written in the file.
    std::vector<std::string> imports;
    // Empty when everything read was sound. Otherwise, in plain English, the
    // first thing found wrong: why the file is not a program file (isPe
    // false), or which table is damaged (isPe true; what was read before the
    // damage is kept).
    std::string problem;
};

// Limits on what is read: beyond them a file is reported as damaged.
inline constexpr std::uint32_t kMaxSections = 96;
inline constexpr std::uint32_t kMaxImports = 4096;
inline constexpr std::uint32_t kMaxExportNames = 65536;
inline constexpr std::size_t kMaxNameLength = 512;  // bytes, without the NUL
inline constexpr std::size_t kMaxFileBytes = 64u * 1024u * 1024u;

// Reads `size` bytes at `data` (which may be null when size is 0). Never
// throws except std::bad_alloc.
TPeInfo ReadPeInfo(const unsigned char* data, std::size_t size);

// Reads at most the first `maxBytes` of the file at `path` and returns
// ReadPeInfo of them. A file that cannot be opened or read gives isPe false
// with the reason in `problem`; a larger file is read up to the limit, so
// tables beyond it are reported as lying outside the data.
TPeInfo ReadPeFile(const std::string& path, std::size_t maxBytes = kMaxFileBytes);

// "x86", "x64", "ARM64", "unknown (0x1C4)" or "none".
std::string MachineName(TMachine machine, std::uint16_t machineCode);

}  // namespace engine::pe
