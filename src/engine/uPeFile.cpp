// The portable-executable reader. All positions are carried as 64-bit
// numbers built from the file's 32-bit and 16-bit fields, so a sum of two of
// them cannot wrap; every read goes through TBytes, which refuses a range
// that does not lie wholly inside the data, and copies the bytes out of the
// data in memory or out of a TRangedFile's pages.
#include "engine/uPeFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <utility>

namespace engine::pe {

namespace {

// The data, read as little-endian fields: either `size` bytes in memory or
// a ranged file. A field that cannot be read (outside the data, or a page
// the file could not read) reads as 0; callers check Has() first, and a
// ranged file's failure is reported once the reading is done.
class TBytes {
public:
    TBytes(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
    explicit TBytes(TRangedFile& file) : file_(&file), size_(file.Size()) {}

    std::uint64_t Size() const { return size_; }
    // True once a ranged file could not read a page: what was read since
    // may be zeros in place of the file's bytes.
    bool Failed() const { return file_ && !file_->Failure().empty(); }
    bool Has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    bool Copy(std::uint64_t offset, std::size_t length, unsigned char* out) const {
        if (!Has(offset, length)) return false;
        if (file_) return file_->Copy(offset, length, out);
        if (length) std::memcpy(out, data_ + offset, length);
        return true;
    }
    std::uint16_t U16(std::uint64_t offset) const {
        unsigned char p[2];
        if (!Copy(offset, 2, p)) return 0;
        return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
    }
    std::uint32_t U32(std::uint64_t offset) const {
        unsigned char p[4];
        if (!Copy(offset, 4, p)) return 0;
        return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
               (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    }
    // The NUL-terminated text at `offset` within `limit` bytes (which the
    // caller has checked lie inside the data); false without a NUL there.
    bool Text(std::uint64_t offset, std::uint64_t limit, std::string& text) const {
        text.clear();
        unsigned char chunk[64];
        while (limit > 0) {
            const std::size_t want = static_cast<std::size_t>(limit < sizeof chunk ? limit : sizeof chunk);
            if (!Copy(offset, want, chunk)) return false;
            const void* nul = std::memchr(chunk, 0, want);
            const std::size_t used = nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - chunk) : want;
            text.append(reinterpret_cast<const char*>(chunk), used);
            if (nul) return true;
            offset += want;
            limit -= want;
        }
        return false;
    }

private:
    const unsigned char* data_ = nullptr;
    TRangedFile* file_ = nullptr;
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
        return bytes_.Text(span.offset, limit, name);
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

// Reads the headers and, when `tables`, the tables.
TPeInfo Read(const TBytes& bytes, bool tables) {
    TPeInfo info;
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
    unsigned char signature[4] = {};
    if (!bytes.Copy(peAt, 4, signature) || std::memcmp(signature, "PE\0\0", 4) != 0) {
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
    // Headers that could not be read are no verdict on the file; the
    // caller reports the failure.
    if (bytes.Failed()) return info;
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

    const TDirectory clr = directory(kDirClr);
    info.hasClrHeader = !clr.Empty();
    if (!tables) return info;

    const TImage image(bytes, headersSize, std::move(sections));
    const TDirectory exports = directory(kDirExport);
    if (!exports.Empty()) ReadExports(image, exports, info);
    const TDirectory imports = directory(kDirImport);
    if (!imports.Empty()) ReadImports(image, imports, info);
    if (info.hasClrHeader) {
        std::uint64_t at = 0;
        if (!image.MapRange(clr.rva, 8, at)) SetProblem(info, "The .NET runtime header lies outside the file's data.");
    }
    return info;
}

}  // namespace

TRangedFile::TRangedFile(std::uint64_t size, TReadAt readAt, std::uint64_t maxReadBytes)
    : size_(size), readAt_(std::move(readAt)), maxReadBytes_(maxReadBytes) {}

bool TRangedFile::Copy(std::uint64_t offset, std::size_t length, unsigned char* out) {
    if (offset > size_ || length > size_ - offset) return false;
    while (length > 0) {
        const TPage* page = PageAt(offset / kPageBytes);
        if (!page) return false;
        const std::size_t within = static_cast<std::size_t>(offset % kPageBytes);
        // Every page but the last is whole, and the range ends inside the
        // file, so the page holds at least one of the bytes wanted.
        const std::size_t n = std::min(length, page->bytes.size() - within);
        std::memcpy(out, page->bytes.data() + within, n);
        out += n;
        offset += n;
        length -= n;
    }
    return true;
}

const TRangedFile::TPage* TRangedFile::PageAt(std::uint64_t index) {
    ++clock_;
    for (TPage& page : pages_) {
        if (page.index == index) {
            page.lastUse = clock_;
            return &page;
        }
    }
    if (!failure_.empty()) return nullptr;
    const std::uint64_t start = index * kPageBytes;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kPageBytes, size_ - start));
    if (want > maxReadBytes_ - std::min(bytesRead_, maxReadBytes_)) {
        failure_ = "Reading the file's tables would take more than " + std::to_string(maxReadBytes_) +
                   " bytes, the most read from one file.";
        return nullptr;
    }
    TPage* page = nullptr;
    if (pages_.size() < kCachedPages) {
        pages_.emplace_back();
        page = &pages_.back();
    } else {
        page = &*std::min_element(pages_.begin(), pages_.end(),
                                  [](const TPage& a, const TPage& b) { return a.lastUse < b.lastUse; });
    }
    page->index = index;
    page->lastUse = clock_;
    page->bytes.resize(want);
    bytesRead_ += want;
    if (readAt_(start, page->bytes.data(), want) != want) {
        failure_ = "The file could not be read.";
        // The slot holds no page now; an index no page can have marks it.
        page->index = ~std::uint64_t{0};
        return nullptr;
    }
    return page;
}

TPeInfo ReadPeInfo(const unsigned char* data, std::size_t size) {
    return Read(TBytes(size ? data : nullptr, data ? size : 0), true);
}

TPeInfo ReadPeInfo(TRangedFile& file, TReadScope scope) {
    TPeInfo info = Read(TBytes(file), scope == TReadScope::Tables);
    // A page that could not be read reads as zeros and would otherwise be
    // reported as damage; the failure is the real reason.
    if (!file.Failure().empty()) info.problem = file.Failure();
    return info;
}

TPeInfo ReadPeFile(const std::string& path, std::size_t maxBytes) {
    TPeInfo info;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        info.problem = "The file could not be opened.";
        return info;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    if (end < 0) {
        info.problem = "The file could not be read.";
        return info;
    }
    const std::uint64_t size = std::min<std::uint64_t>(static_cast<std::uint64_t>(end), maxBytes);
    TRangedFile file(size, [&in](std::uint64_t offset, unsigned char* buffer, std::size_t length) -> std::size_t {
        in.clear();
        in.seekg(static_cast<std::streamoff>(offset));
        in.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(length));
        return in.gcount() > 0 ? static_cast<std::size_t>(in.gcount()) : 0;
    });
    return ReadPeInfo(file);
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
