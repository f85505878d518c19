#include "mainwin/uBatch.h"

#include <algorithm>
#include <stdexcept>

#include "common/QVCodePage.h"
#include "common/QVHandles.h"
#include "common/QVRegUtils.h"
#include "common/QVSystem.h"
#include "engine/uRegistry.h"

namespace {

char UpperAsciiChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether the two paths have the same BatchKey, without building either key.
bool SameKey(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (UpperAsciiChar(a[i]) != UpperAsciiChar(b[i])) return false;
    }
    return true;
}

TBatchEntry MakeEntry(const std::string& path) { return TBatchEntry{engine::ExtractFileName(path), path}; }

// Throws the system's text for the last error.
[[noreturn]] void ThrowLastError() { throw std::runtime_error(qv::SystemErrorText(GetLastError())); }

bool IsFile(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Clears the read-only attribute of an existing file; true when it was set.
bool ClearReadOnly(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (!IsFile(attributes) || !(attributes & FILE_ATTRIBUTE_READONLY)) return false;
    return SetFileAttributesA(path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY)) != 0;
}

// The folder that holds the file, with its trailing backslash. Taken from the
// full path so that a bare name ("x.kvx"), a drive-relative name ("C:x.kvx")
// and forward slashes all give the folder the file really lands in.
std::string FolderOf(const std::string& path) {
    DWORD size = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) ThrowLastError();
    std::vector<char> buffer(size + 1, '\0');
    DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0 || length >= buffer.size()) ThrowLastError();
    std::string full(buffer.data(), length);
    size_t cut = full.find_last_of('\\');
    return cut == std::string::npos ? std::string() : full.substr(0, cut + 1);
}

// A temporary file deleted when the object dies, unless it has been moved
// into place.
class TTempFile {
public:
    explicit TTempFile(std::string name) : name_(std::move(name)) {}
    ~TTempFile() {
        if (!name_.empty()) DeleteFileA(name_.c_str());
    }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    const std::string& Name() const { return name_; }
    void Release() { name_.clear(); }

private:
    std::string name_;
};

// Writes every byte to the open file, then flushes it to the disk.
void WriteAll(HANDLE file, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr)) ThrowLastError();
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            ThrowLastError();
        }
        done += written;
    }
    if (!FlushFileBuffers(file)) ThrowLastError();
}

// Sets the read-only attribute of an existing file again.
void SetReadOnly(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (IsFile(attributes)) SetFileAttributesA(path.c_str(), attributes | FILE_ATTRIBUTE_READONLY);
}

// A new, empty file of a unique name in the folder; its name.
std::string NewTempName(const std::string& folder, const char* prefix) {
    char name[MAX_PATH + 1] = {};
    if (GetTempFileNameA(folder.empty() ? "." : folder.c_str(), prefix, 0, name) == 0) ThrowLastError();
    return name;
}

// Throws the failure of a save: what the batch file's name holds now.
[[noreturn]] void Fail(const std::string& message, TBatchWriteFailure failure,
                       const std::string& oldContent = std::string()) {
    throw EBatchWrite(message, failure, oldContent);
}

[[noreturn]] void Fail(DWORD error, TBatchWriteFailure failure, const std::string& oldContent = std::string()) {
    Fail(qv::SystemErrorText(error), failure, oldContent);
}

// Puts the new file `temp` in the place of the existing file `path`, whose
// previous content ReplaceFile moves to `keep`. True when the new content is
// under its name; false when the call failed and `path` still holds its
// previous content (and `keep` is as it was); throws EBatchWrite when the
// failure left `path` without its previous content. *error receives the
// system's code of a failure. `keepOwner`, when given, deletes `keep` at its
// end; it lets go of it when `keep` is left holding the only previous
// content.
bool ReplaceKeeping(const std::string& path, TTempFile& temp, const std::string& keep, TTempFile* keepOwner,
                    DWORD* error) {
    if (ReplaceFileA(path.c_str(), temp.Name().c_str(), keep.c_str(),
                     REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr)) {
        temp.Release();
        return true;
    }
    *error = GetLastError();
    if (IsFile(GetFileAttributesA(path.c_str()))) return false;
    // The previous file has left its name (ERROR_UNABLE_TO_MOVE_REPLACEMENT_2
    // says it is under `keep`): it goes back, so that the name holds either
    // the previous content or, when that fails, the new one.
    if (*error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 &&
        MoveFileExA(keep.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        Fail(*error, TBatchWriteFailure::OldKept);
    }
    if (MoveFileExA(temp.Name().c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        temp.Release();
        return true;
    }
    if (IsFile(GetFileAttributesA(keep.c_str()))) {
        if (keepOwner) keepOwner->Release();
        Fail(*error, TBatchWriteFailure::OldInBackup, keep);
    }
    Fail(*error, TBatchWriteFailure::Missing);
}

// Whether the text is a positive decimal number small enough for its value;
// the value goes to `value`.
bool ParsePosition(const std::string& text, unsigned long* value) {
    if (text.empty() || text.size() > 9) return false;
    unsigned long number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + static_cast<unsigned long>(c - '0');
    }
    if (number == 0) return false;
    *value = number;
    return true;
}

bool SamePathIgnoringCase(const std::string& a, const std::string& b) {
    return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()), b.c_str(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

}  // namespace

// ---------------------------------------------------------------------------
// Batch model

std::vector<std::string> TBatchModel::Paths() const {
    std::vector<std::string> paths;
    paths.reserve(entries_.size());
    for (const TBatchEntry& entry : entries_) paths.push_back(entry.Path);
    return paths;
}

void TBatchModel::Index(const std::string& path) { ++counts_[BatchKey(path)]; }

void TBatchModel::Unindex(const std::string& path) {
    auto found = counts_.find(BatchKey(path));
    if (found == counts_.end()) return;
    if (--found->second == 0) counts_.erase(found);
}

void TBatchModel::Assign(const std::vector<std::string>& paths) {
    // Room for a quarter more, so that the first additions after loading a
    // large batch do not have to move and rehash everything at once.
    const size_t room = paths.size() + paths.size() / 4 + 16;
    std::vector<TBatchEntry> entries;
    entries.reserve(room);
    std::unordered_map<std::string, size_t> counts;
    counts.reserve(room);
    for (const std::string& path : paths) {
        entries.push_back(MakeEntry(path));
        ++counts[BatchKey(path)];
    }
    // Only replaced once everything is built, so a failure leaves the model
    // as it was.
    entries_.swap(entries);
    counts_.swap(counts);
}

void TBatchModel::Append(const std::string& path) {
    entries_.push_back(MakeEntry(path));
    try {
        Index(path);
    } catch (...) {
        entries_.pop_back();
        throw;
    }
}

bool TBatchModel::AddUnique(const std::string& path) {
    if (Contains(path)) return false;
    Append(path);
    return true;
}

bool TBatchModel::Contains(const std::string& path) const { return counts_.count(BatchKey(path)) != 0; }

int TBatchModel::Find(const std::string& path) const {
    if (!Contains(path)) return -1;
    for (size_t index = 0; index < entries_.size(); ++index) {
        if (SameKey(entries_[index].Path, path)) return static_cast<int>(index);
    }
    return -1;
}

void TBatchModel::Remove(size_t index) {
    if (index >= entries_.size()) throw std::out_of_range("TBatchModel::Remove: no entry at that index");
    Unindex(entries_[index].Path);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
}

void TBatchModel::Clear() {
    entries_.clear();
    counts_.clear();
}

void TBatchModel::Move(size_t from, size_t to) {
    if (from >= entries_.size() || to >= entries_.size()) {
        throw std::out_of_range("TBatchModel::Move: no entry at that index");
    }
    // The keys do not change, so the index stays as it is.
    auto first = entries_.begin();
    if (from < to) {
        std::rotate(first + static_cast<std::ptrdiff_t>(from), first + static_cast<std::ptrdiff_t>(from) + 1,
                    first + static_cast<std::ptrdiff_t>(to) + 1);
    } else if (to < from) {
        std::rotate(first + static_cast<std::ptrdiff_t>(to), first + static_cast<std::ptrdiff_t>(from),
                    first + static_cast<std::ptrdiff_t>(from) + 1);
    }
}

// ---------------------------------------------------------------------------
// Batch file

namespace {

class TSystemLegacyCodePage : public TLegacyCodePage {
public:
    std::string ToUtf8(const std::string& bytes) const override {
        return qv::WideToUtf8(qv::CodePageToWide(qv::LegacyCodePage(), bytes));
    }
    bool FromUtf8(const std::string& text, std::string* bytes) const override {
        // A malformed sequence would become U+FFFD and change the text.
        if (!IsValidUtf8(text.data(), text.size())) return false;
        return qv::WideToCodePageExact(qv::LegacyCodePage(), qv::Utf8ToWide(text), bytes);
    }
};

}  // namespace

const TLegacyCodePage& SystemLegacyCodePage() {
    static const TSystemLegacyCodePage codePage;
    return codePage;
}

std::string ReadWholeFile(const std::string& path) {
    qv::Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) ThrowLastError();
    std::string bytes;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0 &&
        static_cast<unsigned long long>(size.QuadPart) < bytes.max_size()) {
        bytes.reserve(static_cast<size_t>(size.QuadPart));
    }
    // Read to the end rather than to the size: the file may grow meanwhile.
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) ThrowLastError();
        if (read == 0) break;
        bytes.append(chunk.data(), read);
    }
    return bytes;
}

TBatchRead ReadBatchFile(const std::string& path, std::vector<std::string>* paths, unsigned long long* bytesRead) {
    unsigned long long total = 0;
    // The count is reported however the reading ends.
    struct TReport {
        const unsigned long long& total;
        unsigned long long* out;
        ~TReport() {
            if (out) *out = total;
        }
    } report{total, bytesRead};

    qv::Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) ThrowLastError();
    // Reads up to `count` more bytes onto the end of `bytes`; false at the
    // end of the file.
    auto readMore = [&](std::string& bytes, size_t count) {
        size_t had = bytes.size();
        bytes.resize(had + count);
        DWORD read = 0;
        if (!ReadFile(file.get(), &bytes[had], static_cast<DWORD>(count), &read, nullptr)) ThrowLastError();
        bytes.resize(had + read);
        total += read;
        return read != 0;
    };

    // The header line first: a file that does not begin with it is not
    // read any further.
    std::string bytes;
    while (bytes.size() < kBatchHeaderProbe && readMore(bytes, kBatchHeaderProbe - bytes.size())) {
    }
    if (!StartsWithBatchHeader(bytes)) return TBatchRead::NotABatch;

    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.get(), &size)) {
        if (static_cast<unsigned long long>(size.QuadPart) > kMaxBatchFileSize) return TBatchRead::TooLarge;
        bytes.reserve(static_cast<size_t>(size.QuadPart));
    }
    // Read to the end rather than to the size: the file may grow meanwhile,
    // though never past the limit.
    constexpr size_t kChunk = 64 * 1024;
    while (readMore(bytes, kChunk)) {
        if (bytes.size() > kMaxBatchFileSize) return TBatchRead::TooLarge;
    }
    std::vector<std::string> lines;
    if (!ParseBatchText(DecodeBatchText(std::move(bytes), SystemLegacyCodePage()), &lines)) {
        return TBatchRead::NotABatch;
    }
    if (paths) *paths = std::move(lines);
    return TBatchRead::Read;
}

namespace {

// WriteBatchFile's work; `target` holds the path's attributes as they were
// before anything was written.
void WriteBatchFileAs(const std::string& path, const std::string& bytes, bool backup, DWORD target) {
    if (target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_DIRECTORY)) {
        Fail(ERROR_ACCESS_DENIED, TBatchWriteFailure::OldKept);
    }
    if (target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_READONLY)) {
        Fail(ERROR_ACCESS_DENIED, TBatchWriteFailure::ReadOnly);
    }

    // 1. The new contents, whole and on the disk, in a temporary file of the
    // same folder so that putting it in place stays on one volume.
    const std::string folder = FolderOf(path);
    TTempFile temp(NewTempName(folder, "kvx"));
    {
        qv::Handle file(CreateFileA(temp.Name().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) ThrowLastError();
        WriteAll(file.get(), bytes);
        if (!CloseHandle(file.release())) ThrowLastError();
    }

    // 2. A first save: nothing to keep. A file that appears meanwhile is
    // replaced as any other.
    if (target == INVALID_FILE_ATTRIBUTES) {
        if (MoveFileExA(temp.Name().c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
            temp.Release();
            return;
        }
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
            Fail(error, IsFile(GetFileAttributesA(path.c_str())) ? TBatchWriteFailure::OldKept
                                                                 : TBatchWriteFailure::Missing);
        }
    }

    // 3. The new file takes the old one's place in one step, the old one
    // moving to the backup name. Without a backup it moves to a throwaway
    // name instead, so that every failure can be undone the same way.
    DWORD error = ERROR_SUCCESS;
    if (backup) {
        const std::string backupName = BackupFileName(path);
        // An older backup gives way even when read-only; it keeps its
        // attribute when it stays.
        const bool backupWasReadOnly = ClearReadOnly(backupName);
        if (ReplaceKeeping(path, temp, backupName, nullptr, &error)) return;
        if (backupWasReadOnly) SetReadOnly(backupName);
        // The backup name may be held open by another program: the save
        // goes on without a new backup, and the older one stays.
    }
    TTempFile throwaway(NewTempName(folder, "kvb"));
    if (ReplaceKeeping(path, temp, throwaway.Name(), &throwaway, &error)) return;
    Fail(error, TBatchWriteFailure::OldKept);
}

}  // namespace

void WriteBatchFile(const std::string& path, const std::string& bytes, bool backup) {
    // A folder of that name, or a read-only file, is left as it is.
    const DWORD target = GetFileAttributesA(path.c_str());
    try {
        WriteBatchFileAs(path, bytes, backup, target);
    } catch (const EBatchWrite&) {
        throw;
    } catch (const std::runtime_error& e) {
        // Failures before anything was put in place (the temporary file)
        // leave the batch file as it was.
        Fail(e.what(), target == INVALID_FILE_ATTRIBUTES ? TBatchWriteFailure::Missing : TBatchWriteFailure::OldKept);
    }
}

// ---------------------------------------------------------------------------
// Recent files

void TRecentFiles::Add(const std::string& path) {
    items_.erase(std::remove_if(items_.begin(), items_.end(),
                                [&](const std::string& item) { return SamePathIgnoringCase(item, path); }),
                 items_.end());
    items_.insert(items_.begin(), path);
    if (items_.size() > kMaxItems) items_.resize(kMaxItems);
}

void TRecentFiles::Remove(const std::string& path) {
    auto found = std::find_if(items_.begin(), items_.end(),
                              [&](const std::string& item) { return SamePathIgnoringCase(item, path); });
    if (found != items_.end()) items_.erase(found);
}

void TRecentFiles::Load(HKEY root, const std::string& storageKey) {
    try {
        LoadFrom(root, storageKey);
    } catch (...) {
        // Nothing is reported; the list stays as it was.
    }
}

void TRecentFiles::LoadFrom(HKEY root, const std::string& storageKey) {
    // A missing key or subkey gives back the current list, whose names have
    // no stored positions, so it stays as it is.
    std::vector<std::string> names = qv::ReadRegValueNames(root, storageKey, "MRU", items_);
    const std::string mruKey = storageKey + "\\MRU";
    std::vector<std::pair<unsigned long, std::string>> positioned;
    positioned.reserve(names.size());
    bool allPositioned = true;
    for (const std::string& name : names) {
        unsigned long position = 0;
        if (!ParsePosition(qv::ReadRegString(root, mruKey, name, std::string()), &position)) {
            allPositioned = false;
            break;
        }
        positioned.emplace_back(position, name);
    }
    if (allPositioned) {
        // Equal positions keep the registry's order.
        std::stable_sort(positioned.begin(), positioned.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (size_t i = 0; i < names.size(); ++i) names[i] = positioned[i].second;
    }
    if (names.size() > kMaxItems) names.resize(kMaxItems);
    items_ = std::move(names);
}

void TRecentFiles::Save(HKEY root, const std::string& storageKey) const {
    try {
        const std::string mruKey = storageKey + "\\MRU";
        qv::ClearRegValues(root, mruKey);
        qv::WriteRegValueNames(root, storageKey, "MRU", items_);
        for (size_t i = 0; i < items_.size(); ++i) {
            qv::WriteRegString(root, mruKey, items_[i], std::to_string(i + 1));
        }
    } catch (...) {
        // Nothing is reported; the registry keeps what was written.
    }
}
