#include "engine/uProgramFile.h"

#include <windows.h>

namespace engine {

namespace {

// This thread's error mode for the life of the object: a read for one file
// must not change how the rest of the process meets a missing disk, nor
// show the system's "insert a disk" prompt.
class TQuietErrors {
public:
    TQuietErrors() { SetThreadErrorMode(SEM_FAILCRITICALERRORS, &old_); }
    ~TQuietErrors() { SetThreadErrorMode(old_, nullptr); }
    TQuietErrors(const TQuietErrors&) = delete;
    TQuietErrors& operator=(const TQuietErrors&) = delete;

private:
    DWORD old_ = 0;
};

}  // namespace

TProgramFile::TProgramFile(const std::string& path) : path_(path) {
    TQuietErrors quiet;
    if (!Open()) return;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(static_cast<HANDLE>(file_), &size) && size.QuadPart >= 0) {
        // Offsets beyond the reader's limit count as outside the file, as
        // for every other reading of a program file.
        const std::uint64_t looked = static_cast<std::uint64_t>(size.QuadPart) < pe::kMaxFileBytes
                                         ? static_cast<std::uint64_t>(size.QuadPart)
                                         : pe::kMaxFileBytes;
        pages_ = std::make_unique<pe::TRangedFile>(
            looked, [this](std::uint64_t offset, unsigned char* buffer, std::size_t count) {
                return ReadAt(offset, buffer, count);
            });
        info_ = pe::ReadPeInfo(*pages_, pe::TReadScope::Headers);
        opened_ = pages_->Failure().empty();
    }
    Close();
}

TProgramFile::~TProgramFile() { Close(); }

const pe::TPeInfo& TProgramFile::Whole() {
    if (!opened_ || whole_) return info_;
    whole_ = true;
    TQuietErrors quiet;
    if (Open()) {
        info_ = pe::ReadPeInfo(*pages_, pe::TReadScope::Tables);
        Close();
    }
    return info_;
}

std::uint64_t TProgramFile::BytesRead() const { return pages_ ? pages_->BytesRead() : 0; }

bool TProgramFile::Open() {
    HANDLE file = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    file_ = file;
    return true;
}

void TProgramFile::Close() {
    if (file_) CloseHandle(static_cast<HANDLE>(file_));
    file_ = nullptr;
}

// Reads at the offset given in an OVERLAPPED record, which on a file opened
// for synchronous access moves nothing but the file pointer; a short count
// means the read failed (the file shrank or the disk went away).
std::size_t TProgramFile::ReadAt(std::uint64_t offset, unsigned char* buffer, std::size_t size) {
    if (!file_) return 0;
    std::size_t got = 0;
    while (got < size) {
        OVERLAPPED at{};
        const std::uint64_t position = offset + got;
        at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD chunk = 0;
        if (!ReadFile(static_cast<HANDLE>(file_), buffer + got, static_cast<DWORD>(size - got), &chunk, &at) ||
            chunk == 0) {
            break;
        }
        got += chunk;
    }
    return got;
}

}  // namespace engine
