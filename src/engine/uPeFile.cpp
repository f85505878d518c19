// The portable-executable reader. All positions are carried as 64-bit
// numbers built from the file's 32-bit and 16-bit fields, so a sum of two of
// them cannot wrap; every read goes through TBytes, which refuses a range
// that does not lie wholly inside the data.
#include "engine/uPeFile.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <utility>

namespace engine::pe {

namespace {

// The data given, read as little-endian fields. A read outside it is a
// programming error: callers check Has() first.
class TBytes {
public:
    TBytes(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

    std::uint64_t Size() const { return size_; }
    bool Has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    std::uint16_t U16(std::uint64_t offset) const {
        if (!Has(offset, 2)) return 0;
        const unsigned char* p = data_ + offset;
        return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
    }
    std::uint32_t U32(std::uint64_t offset) const {
        if (!Has(offset, 4)) return 0;
        const unsigned char* p = data_ + offset;
        return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
               (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    }
    const unsigned char* At(std::uint64_t offset) const { return data_ + offset; }

private:
    const unsigned char* data_;
    std::uint64_t size_;
};

struct TSection {
    std::uint64_t virtualAddress;
    std::uint64_t virtualExtent;  // bytes the section covers in memory
    std::uint64_t rawOffset;
    std::uint64_t rawSize;
};

// Where an address relative to the image lies in the file.
struct TSpan {
    bool mapped = false;
    std::uint64_t offset = 0;
    std::uint64_t available = 0;  // bytes from offset to the end of its section's data in the file
};

class TImage {
public:
    TImage(const TBytes& bytes, std::uint64_t headersSize, std::vector<TSection> sections)
        : bytes_(bytes), headersSize_(headersSize), sections_(std::move(sections)) {}

    // Maps `rva` to the file. Bytes a section has in memory but not in the
    // file (its zero-filled tail) are not mapped: they cannot hold a table.
    TSpan Map(std::uint64_t rva) const {
        TSpan span;
        for (const TSection& s : sections_) {
            if (rva < s.virtualAddress || rva - s.virtualAddress >= s.virtualExtent) continue;
            const std::uint64_t delta = rva - s.virtualAddress;
            const std::uint64_t inFile = s.rawSize < s.virtualExtent ? s.rawSize : s.virtualExtent;
            if (delta >= inFile) return span;
            return Clip(s.rawOffset + delta, s.rawOffset + inFile);
        }
        // Addresses inside the headers are the file's own first bytes.
        if (rva < headersSize_) return Clip(rva, headersSize_);
        return span;
    }

    // Maps [rva, rva + length) when it lies wholly in the file's data of one
    // section (or of the headers).
    bool MapRange(std::uint64_t rva, std::uint64_t length, std::uint64_t& offset) const {
        const TSpan span = Map(rva);
        if (!span.mapped || span.available < length) return false;
        offset = span.offset;
        return true;
    }

    // The NUL-terminated name at `rva`, at most kMaxNameLength bytes long
    // and ending before its section's data ends.
    bool ReadName(std::uint64_t rva, std::string& name) const {
        const TSpan span = Map(rva);
        if (!span.mapped) return false;
        const std::uint64_t limit = span.available < kMaxNameLength + 1 ? span.available : kMaxNameLength + 1;
        const unsigned char* p = bytes_.At(span.offset);
        const void* nul = std::memchr(p, 0, static_cast<std::size_t>(limit));
        if (!nul) return false;
        name.assign(reinterpret_cast<const char*>(p), static_cast<const unsigned char*>(nul) - p);
        return true;
    }

    const TBytes& Bytes() const { return bytes_; }

private:
    TSpan Clip(std::uint64_t offset, std::uint64_t end) const {
        TSpan span;
        if (end > bytes_.Size()) end = bytes_.Size();
        if (offset >= end) return span;
        span.mapped = true;
        span.offset = offset;
        span.available = end - offset;
        return span;
    }

    const TBytes& bytes_;
    std::uint64_t headersSize_;
    std::vector<TSection> sections_;
};

struct TDirectory {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
    bool Empty() const { return rva == 0 || size == 0; }
};

constexpr std::uint32_t kDirExport = 0;
constexpr std::uint32_t kDirImport = 1;
constexpr std::uint32_t kDirClr = 14;

constexpr std::uint64_t kDosHeaderSize = 64;
constexpr std::uint64_t kFileHeaderSize = 20;
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint64_t kExportDirectorySize = 40;
constexpr std::uint64_t kImportDescriptorSize = 20;
constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
constexpr std::uint16_t kFileIsDll = 0x2000;

TMachine MachineOf(std::uint16_t code) {
    switch (code) {
        case 0x014C: return TMachine::X86;
        case 0x8664: return TMachine::X64;
        case 0xAA64: return TMachine::Arm64;
        default: return TMachine::Other;
    }
}

void SetProblem(TPeInfo& info, const std::string& text) {
    if (info.problem.empty()) info.problem = text;
}

// Looks for the two registration entry points among the export names.
void ReadExports(const TImage& image, const TDirectory& dir, TPeInfo& info) {
    const TBytes& bytes = image.Bytes();
    std::uint64_t at = 0;
    if (!image.MapRange(dir.rva, kExportDirectorySize, at)) {
        SetProblem(info, "The export table lies outside the file's data.");
        return;
    }
    const std::uint32_t count = bytes.U32(at + 24);
    const std::uint32_t namesRva = bytes.U32(at + 32);
    if (count == 0) return;
    if (count > kMaxExportNames) {
        SetProblem(info, "The export table claims " + std::to_string(count) + " names, more than a library can have.");
        return;
    }
    std::uint64_t names = 0;
    if (!image.MapRange(namesRva, std::uint64_t{count} * 4, names)) {
        SetProblem(info, "The export table's list of names lies outside the file's data.");
        return;
    }
    static const char kRegister[] = "DllRegisterServer";
    static const char kUnregister[] = "DllUnregisterServer";
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string name;
        if (!image.ReadName(bytes.U32(names + std::uint64_t{i} * 4), name)) {
            SetProblem(info, "An export name lies outside the file's data or has no end.");
            return;
        }
        if (name == kRegister) info.exportsRegister = true;
        if (name == kUnregister) info.exportsUnregister = true;
    }
}

// Collects the imported DLL names up to the descriptor with no name.
void ReadImports(const TImage& image, const TDirectory& dir, TPeInfo& info) {
    const TBytes& bytes = image.Bytes();
    const TSpan span = image.Map(dir.rva);
    if (!span.mapped) {
        SetProblem(info, "The import table lies outside the file's data.");
        return;
    }
    for (std::uint32_t i = 0;; ++i) {
        const std::uint64_t delta = std::uint64_t{i} * kImportDescriptorSize;
        if (span.available < delta + kImportDescriptorSize) {
            SetProblem(info, "The import table has no end within the file's data.");
            return;
        }
        const std::uint64_t at = span.offset + delta;
        const std::uint32_t nameRva = bytes.U32(at + 12);
        if (nameRva == 0) return;
        if (i == kMaxImports) {
            SetProblem(info, "The import table lists more than " + std::to_string(kMaxImports) + " libraries.");
            return;
        }
        std::string name;
        if (!image.ReadName(nameRva, name)) {
            SetProblem(info, "An imported library's name lies outside the file's data or has no end.");
            return;
        }
        info.imports.push_back(std::move(name));
    }
}

}  // namespace

TPeInfo ReadPeInfo(const unsigned char* data, std::size_t size) {
    TPeInfo info;
    const TBytes bytes(size ? data : nullptr, data ? size : 0);
    if (bytes.Size() == 0) {
        info.problem = "The file is empty.";
        return info;
    }
    if (bytes.Size() < 2 || bytes.U16(0) != 0x5A4D) {  // "MZ"
        info.problem = "The file does not start with the \"MZ\" mark of a Windows program file.";
        return info;
    }
    if (!bytes.Has(0, kDosHeaderSize)) {
        info.problem = "The file ends inside its DOS header.";
        return info;
    }
    const std::uint64_t peAt = bytes.U32(0x3C);
    if (!bytes.Has(peAt, 4)) {
        info.problem = "The file's pointer to its PE header (" + std::to_string(peAt) +
                       ") lies outside the file's " + std::to_string(bytes.Size()) + " bytes.";
        return info;
    }
    if (std::memcmp(bytes.At(peAt), "PE\0\0", 4) != 0) {
        info.problem = "The file has no \"PE\" signature: it is an MS-DOS or 16-bit program, not a Windows one.";
        return info;
    }
    const std::uint64_t fileHeader = peAt + 4;
    if (!bytes.Has(fileHeader, kFileHeaderSize)) {
        info.problem = "The file ends inside its PE file header.";
        return info;
    }
    info.machineCode = bytes.U16(fileHeader);
    info.machine = MachineOf(info.machineCode);
    const std::uint32_t sectionCount = bytes.U16(fileHeader + 2);
    const std::uint64_t optionalSize = bytes.U16(fileHeader + 16);
    info.isDll = (bytes.U16(fileHeader + 18) & kFileIsDll) != 0;

    const std::uint64_t optional = fileHeader + kFileHeaderSize;
    if (optionalSize < 2 || !bytes.Has(optional, 2)) {
        info.problem = "The file has no optional header.";
        return info;
    }
    const std::uint16_t magic = bytes.U16(optional);
    if (magic != kMagicPe32 && magic != kMagicPe32Plus) {
        char text[96];
        std::snprintf(text, sizeof text, "The optional header's kind (0x%X) is neither 32-bit nor 64-bit.", magic);
        info.problem = text;
        return info;
    }
    info.isPe32Plus = magic == kMagicPe32Plus;
    const std::uint64_t fixedSize = info.isPe32Plus ? 112 : 96;  // up to the data directories
    if (optionalSize < fixedSize) {
        info.problem = "The optional header is " + std::to_string(optionalSize) + " bytes long, too short for its kind.";
        return info;
    }
    if (!bytes.Has(optional, optionalSize)) {
        info.problem = "The file ends inside its optional header.";
        return info;
    }
    if (sectionCount > kMaxSections) {
        info.problem = "The file claims " + std::to_string(sectionCount) + " sections, more than a loader accepts.";
        return info;
    }
    const std::uint64_t sectionTable = optional + optionalSize;
    if (!bytes.Has(sectionTable, sectionCount * kSectionHeaderSize)) {
        info.problem = "The file ends inside its section table.";
        return info;
    }
    std::vector<TSection> sections;
    sections.reserve(sectionCount);
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t at = sectionTable + i * kSectionHeaderSize;
        TSection s;
        const std::uint32_t virtualSize = bytes.U32(at + 8);
        s.virtualAddress = bytes.U32(at + 12);
        s.rawSize = bytes.U32(at + 16);
        s.rawOffset = bytes.U32(at + 20);
        s.virtualExtent = virtualSize ? virtualSize : s.rawSize;
        sections.push_back(s);
    }
    info.isPe = true;

    const std::uint64_t headersSize = bytes.U32(optional + 60);
    // Directories exist up to the count the header states and the room it has.
    std::uint64_t directoryCount = bytes.U32(optional + fixedSize - 4);
    const std::uint64_t room = (optionalSize - fixedSize) / 8;
    if (directoryCount > room) directoryCount = room;
    auto directory = [&](std::uint32_t index) {
        TDirectory d;
        if (index < directoryCount) {
            d.rva = bytes.U32(optional + fixedSize + index * 8);
            d.size = bytes.U32(optional + fixedSize + index * 8 + 4);
        }
        return d;
    };

    const TImage image(bytes, headersSize, std::move(sections));
    const TDirectory exports = directory(kDirExport);
    if (!exports.Empty()) ReadExports(image, exports, info);
    const TDirectory imports = directory(kDirImport);
    if (!imports.Empty()) ReadImports(image, imports, info);
    const TDirectory clr = directory(kDirClr);
    if (!clr.Empty()) {
        info.hasClrHeader = true;
        std::uint64_t at = 0;
        if (!image.MapRange(clr.rva, 8, at)) SetProblem(info, "The .NET runtime header lies outside the file's data.");
    }
    return info;
}

TPeInfo ReadPeFile(const std::string& path, std::size_t maxBytes) {
    TPeInfo info;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        info.problem = "The file could not be opened.";
        return info;
    }
    std::vector<unsigned char> data;
    const std::size_t chunk = 64 * 1024;
    while (data.size() < maxBytes && in) {
        const std::size_t want = maxBytes - data.size() < chunk ? maxBytes - data.size() : chunk;
        const std::size_t had = data.size();
        data.resize(had + want);
        in.read(reinterpret_cast<char*>(data.data() + had), static_cast<std::streamsize>(want));
        data.resize(had + static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        info.problem = "The file could not be read.";
        return info;
    }
    return ReadPeInfo(data.data(), data.size());
}

std::string MachineName(TMachine machine, std::uint16_t machineCode) {
    switch (machine) {
        case TMachine::None: return "none";
        case TMachine::X86: return "x86";
        case TMachine::X64: return "x64";
        case TMachine::Arm64: return "ARM64";
        case TMachine::Other: break;
    }
    char text[32];
    std::snprintf(text, sizeof text, "unknown (0x%X)", machineCode);
    return text;
}

}  // namespace engine::pe
