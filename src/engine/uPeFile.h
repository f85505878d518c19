#pragma once
// Reads what matters for registration from a Windows program file without
// loading it: whether it is one at all, the machine it was built for, DLL or
// EXE, the two registration exports, a .NET runtime header and the names of
// the DLLs it imports.
//
// The bytes are untrusted. Every offset and size read from them is checked
// against the data given before it is used, loops are bounded, and nothing
// is read outside [data, data + size), or outside the file's size when the
// file is read by ranges. The reader uses the C++ standard library only, so
// it builds and runs on any host.
#include <cstddef>
#include <cstdint>
#include <functional>
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
// A file is taken to end here at the latest: what lies beyond is outside.
inline constexpr std::size_t kMaxFileBytes = 64u * 1024u * 1024u;

// A file read by position, one page at a time, so that only the pages the
// headers and tables lie in are read, and each of them once while it is
// kept. At most kCachedPages are kept (the least recently used one goes
// first), and at most `maxReadBytes` are read in all: past that, and after a
// read that failed, no further page is read and the reader reports why in
// `problem`. Not safe to share between threads.
inline constexpr std::size_t kPageBytes = 4096;
inline constexpr std::size_t kCachedPages = 64;
inline constexpr std::uint64_t kMaxReadBytes = 4u * 1024u * 1024u;

class TRangedFile {
public:
    // Reads `size` bytes at `offset` into `buffer` and returns how many it
    // read; fewer than asked means the read failed. It is only asked for
    // ranges that lie inside the file's size.
    using TReadAt = std::function<std::size_t(std::uint64_t offset, unsigned char* buffer, std::size_t size)>;

    // `size` is the file's size (or the part of it to be looked at).
    TRangedFile(std::uint64_t size, TReadAt readAt, std::uint64_t maxReadBytes = kMaxReadBytes);

    std::uint64_t Size() const { return size_; }
    // Copies [offset, offset + length) to `out`. False when the range does
    // not lie wholly inside the file, or a page it needs could not be read.
    bool Copy(std::uint64_t offset, std::size_t length, unsigned char* out);
    // The bytes asked of `readAt` so far.
    std::uint64_t BytesRead() const { return bytesRead_; }
    // Empty while every page needed could be read; otherwise, in plain
    // English, why one could not.
    const std::string& Failure() const { return failure_; }

private:
    struct TPage {
        std::uint64_t index = 0;
        std::uint64_t lastUse = 0;
        std::vector<unsigned char> bytes;
    };
    const TPage* PageAt(std::uint64_t index);

    std::uint64_t size_;
    TReadAt readAt_;
    std::uint64_t maxReadBytes_;
    std::uint64_t bytesRead_ = 0;
    std::uint64_t clock_ = 0;
    std::string failure_;
    std::vector<TPage> pages_;
};

// How much of a program file to read: the headers only (isPe, machine,
// isPe32Plus, isDll, hasClrHeader from its directory entry; the tables are
// not looked at), or the export, import and .NET tables as well.
enum class TReadScope { Headers, Tables };

// Reads `size` bytes at `data` (which may be null when size is 0). Never
// throws except std::bad_alloc.
TPeInfo ReadPeInfo(const unsigned char* data, std::size_t size);

// Reads the same through `file`, asking it only for the ranges the headers
// and (with Tables) the tables lie in. Gives what ReadPeInfo gives for the
// file's bytes, except that when `file` could not read a page the verdict is
// its Failure(): isPe false when the headers could not be read, the tables'
// problem otherwise. Pages read for the headers are kept for the tables.
TPeInfo ReadPeInfo(TRangedFile& file, TReadScope scope = TReadScope::Tables);

// Reads the file at `path`, taken to end after `maxBytes` at most, through
// a TRangedFile: only the pages the headers and tables need. A file that
// cannot be opened or read gives isPe false with the reason in `problem`;
// tables beyond the limit are reported as lying outside the data.
TPeInfo ReadPeFile(const std::string& path, std::size_t maxBytes = kMaxFileBytes);

// "x86", "x64", "ARM64", "unknown (0x1C4)" or "none".
std::string MachineName(TMachine machine, std::uint16_t machineCode);

}  // namespace engine::pe
