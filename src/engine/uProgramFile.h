#pragma once
// What a server's file says before it is loaded. The headers (machine, DLL
// or EXE, the .NET entry) are read at once: the first page, and the page of
// the PE header when it lies further on. The export and import tables,
// needed only to explain a failure or to look at a .NET assembly, are read
// when first asked for, and then only the pages they lie in, up to
// pe::kMaxReadBytes in all.
//
// The file is open only while it is read, so the loader and the server find
// it as anyone else would. Pages read for the headers are kept for the
// tables.
#include <cstdint>
#include <memory>
#include <string>

#include "engine/uPeFile.h"

namespace engine {

class TProgramFile {
public:
    // Reads the headers of the file at `path` (a full path).
    explicit TProgramFile(const std::string& path);
    ~TProgramFile();
    TProgramFile(const TProgramFile&) = delete;
    TProgramFile& operator=(const TProgramFile&) = delete;

    // False when the file could not be opened, or its headers could not be
    // read (the loader then has its say).
    bool Opened() const { return opened_; }
    // The headers only: isPe (with the reason in `problem` when false),
    // machine, isPe32Plus, isDll, hasClrHeader. No table is read for it.
    // Once Whole() was called, the same as Whole().
    const pe::TPeInfo& Head() const { return info_; }
    // Everything the reader can tell, the tables included; read on the
    // first call. Stays the head when the file cannot be opened again.
    const pe::TPeInfo& Whole();
    // The bytes read from the file so far.
    std::uint64_t BytesRead() const;

private:
    bool Open();
    void Close();
    std::size_t ReadAt(std::uint64_t offset, unsigned char* buffer, std::size_t size);

    std::string path_;
    void* file_ = nullptr;  // the open file's handle while it is read
    std::unique_ptr<pe::TRangedFile> pages_;
    bool opened_ = false;
    bool whole_ = false;
    pe::TPeInfo info_;
};

}  // namespace engine
