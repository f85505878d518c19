#pragma once
// The batch: the ordered list of server files the user registers and
// unregisters in one run, its ".kvx" file format, the safe writing of that
// file, and the list of recently used batch files. Nothing here needs a
// window, so all of it is tested on its own; the text of the file is in
// uBatchText.h, which needs no Windows header either.
#include <windows.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "mainwin/uBatchText.h"

// One server file of the batch.
struct TBatchEntry {
    std::string Name;  // the file-name part of Path (after the last '\', '/' or ':')
    std::string Path;
};

// The entries of a batch, in batch order. An index of the entries' keys is
// kept beside them so that membership tests stay O(1) on average however
// long the batch is.
class TBatchModel {
public:
    size_t Count() const { return entries_.size(); }
    // The entry at `index`; std::out_of_range when there is none.
    const TBatchEntry& Entry(size_t index) const { return entries_.at(index); }
    const std::vector<TBatchEntry>& Entries() const { return entries_; }
    // The entries' paths in batch order.
    std::vector<std::string> Paths() const;

    // Replaces every entry by the paths in their order, as read from a file:
    // duplicates are kept and nothing is checked.
    void Assign(const std::vector<std::string>& paths);
    // Appends the path without any duplicate check.
    void Append(const std::string& path);
    // Appends the path unless an entry with the same BatchKey exists; true
    // when it was appended.
    bool AddUnique(const std::string& path);
    // Whether an entry has the same BatchKey; O(1) on average.
    bool Contains(const std::string& path) const;
    // The index of the first entry with the same BatchKey, or -1. Only scans
    // the entries when one is known to match.
    int Find(const std::string& path) const;

    // Removes the entry at `index`; std::out_of_range when there is none.
    void Remove(size_t index);
    void Clear();
    // Takes the entry at `from` out and inserts it at `to`, so that it ends
    // up at index `to`. Both must be valid indexes (std::out_of_range
    // otherwise).
    void Move(size_t from, size_t to);

private:
    void Index(const std::string& path);
    void Unindex(const std::string& path);

    std::vector<TBatchEntry> entries_;
    // How many entries have each key.
    std::unordered_map<std::string, size_t> counts_;
};

// The system's legacy ANSI code page (qv::LegacyCodePage) as the batch
// file's text uses it: conversions through the system's UTF-16.
const TLegacyCodePage& SystemLegacyCodePage();

// Every byte of the file. Throws std::runtime_error with the system's text
// for the error when the file cannot be opened or read.
std::string ReadWholeFile(const std::string& path);

// The largest file read as a batch file: 64 MiB, far beyond any real batch,
// so that a file opened by mistake never fills the memory.
constexpr unsigned long long kMaxBatchFileSize = 64ull << 20;

enum class TBatchRead {
    Read,       // the file is a batch file; its paths were read
    NotABatch,  // its first bytes are not a header line
    TooLarge,   // a batch file, but larger than kMaxBatchFileSize
};

// Reads a batch file. The header is checked on the first bytes, so a file
// that is not a batch file is never read further; a larger one than
// kMaxBatchFileSize is refused before its body is read. Only on Read does
// `paths` receive the lines after the header (as ParseBatchText gives them
// for the text DecodeBatchText makes of the bytes with
// SystemLegacyCodePage(): UTF-8 whatever the file's encoding). `bytesRead`, when given, receives how many bytes were read.
// Throws std::runtime_error with the system's text for the error when the
// file cannot be opened or read.
TBatchRead ReadBatchFile(const std::string& path, std::vector<std::string>* paths,
                         unsigned long long* bytesRead = nullptr);

// What a failed WriteBatchFile left under the batch file's name.
enum class TBatchWriteFailure {
    ReadOnly,     // the file carries the read-only attribute and was not touched
    OldKept,      // the file holds its previous content
    OldInBackup,  // no file of that name; the previous content is in EBatchWrite::OldContent
    Missing,      // no file of that name, and no backup of it was made
};

// A failed save: what() is the system's text for the error.
class EBatchWrite : public std::runtime_error {
public:
    EBatchWrite(const std::string& message, TBatchWriteFailure failure, const std::string& oldContent)
        : std::runtime_error(message), Failure(failure), OldContent(oldContent) {}
    TBatchWriteFailure Failure;
    // With OldInBackup: the file that holds the previous content.
    std::string OldContent;
};

// Writes a batch file so that a failed or interrupted write never destroys
// the previous one or its backup. The bytes go to a new temporary file in
// the batch file's own folder, which is flushed and closed; then ReplaceFile
// puts it in place (MoveFileEx when there is no file yet), and, when
// `backup` is set, keeps the previous file under BackupFileName(path),
// replacing an older backup, read-only or not, only at that moment. A
// backup that cannot be made (its name held open by another program) does
// not stop the save: the file is then replaced without one, and the older
// backup stays. A read-only batch file is refused, untouched. On failure
// the temporary file is deleted and EBatchWrite tells what the batch file's
// name now holds: the previous content whenever the system allows it.
void WriteBatchFile(const std::string& path, const std::string& bytes, bool backup);

// The recently used batch files: at most kMaxItems full paths, the most
// recent first. Two paths are the same entry when they are equal ignoring
// letter case.
class TRecentFiles {
public:
    static constexpr size_t kMaxItems = 10;

    const std::vector<std::string>& Items() const { return items_; }

    // Puts the path at the top, removing an equal entry first; entries
    // beyond kMaxItems drop off the end.
    void Add(const std::string& path);
    // Removes the first equal entry; nothing happens when there is none.
    void Remove(const std::string& path);

    // Storage: the subkey "MRU" of `storageKey` under `root` holds one REG_SZ
    // value per entry, named by the path, whose data is the entry's 1-based
    // position as decimal text. The registry does not enumerate values in
    // the order they were written, so the position keeps the order; readers
    // that only look at the names still find every path.
    //
    // Load takes the stored names ordered by their positions when every
    // value has one, in the registry's order otherwise (values with empty
    // data, as older versions wrote them), and keeps the first kMaxItems. A
    // missing key or subkey leaves the list as it is. Nothing is reported.
    void Load(HKEY root, const std::string& storageKey);
    // Replaces whatever the subkey held by the current list.
    void Save(HKEY root, const std::string& storageKey) const;

private:
    // Load's work; may throw (out of memory), which Load swallows.
    void LoadFrom(HKEY root, const std::string& storageKey);

    std::vector<std::string> items_;
};
