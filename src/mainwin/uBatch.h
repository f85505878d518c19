#pragma once
// The batch: the ordered list of server files the user registers and
// unregisters in one run, its ".kvx" file format, the safe writing of that
// file, and the list of recently used batch files. Nothing here needs a
// window, so all of it is tested on its own.
#include <windows.h>

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

// One server file of the batch.
struct TBatchEntry {
    std::string Name;  // the file-name part of Path (after the last '\', '/' or ':')
    std::string Path;
};

// The key under which two paths count as the same entry: the letters a to z
// upper-cased, every other byte kept exactly. No other case folding and no
// path normalisation, so "C:\a.dll" and "C:/a.dll" are different entries.
std::string BatchKey(const std::string& path);

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

// The batch file: ANSI text whose first line is the header and every further
// line one path. Written lines end with CR LF, the last one included.
extern const char kBatchHeader[];     // "; Quorvandel Corvantis File"
extern const char kOldBatchHeader[];  // "; Quorvandel Corvantor File": read, never written

// Splits text into lines. CR LF, a lone CR or a lone LF ends a line; a line
// break at the very end adds no empty line; the text ends at its first NUL.
std::vector<std::string> SplitBatchLines(const std::string& bytes);

// True when the text has a first line and it is exactly one of the two
// headers (same case, nothing before or after it). Then `paths` receives
// every further line as it stands: not trimmed, empty lines and lines that
// begin with ';' included, duplicates kept. On false `paths` is untouched.
bool ParseBatchText(const std::string& bytes, std::vector<std::string>* paths);

// The header and then each path, every line ended by CR LF.
std::string FormatBatchText(const std::vector<std::string>& paths);

// The name of the backup of a batch file: "Backup of " put between the
// folder part (up to and including the last '\' or ':') and the file name,
// so C:\Work\servers.kvx gives C:\Work\Backup of servers.kvx.
std::string BackupFileName(const std::string& path);

// The name of the recovery copy written when the program must end with
// unsaved changes: "Recovery of " before the file name, as for a backup.
std::string RecoveryFileName(const std::string& path);

// Every byte of the file. Throws std::runtime_error with the system's text
// for the error when the file cannot be opened or read.
std::string ReadWholeFile(const std::string& path);

// Writes a batch file so that a failed or interrupted write never destroys
// the previous one. The bytes go to a new temporary file in the batch file's
// own folder, which is flushed and closed; only then, when `backup` is set,
// the previous backup (BackupFileName) is deleted, read-only or not, and the
// existing batch file renamed to that name (a backup that cannot be made
// does not stop the save); finally the temporary file replaces the batch
// file, a read-only one included. On failure the temporary file is deleted
// and std::runtime_error is thrown with the system's text for the error;
// the old batch file, or its backup when the rename happened, is still
// whole.
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
