#pragma once
// The batch file's text: its headers, its lines, and the names of its backup
// and recovery copies. Standard library only: the bytes come from any file
// the user opens, so this part is also built on the build host, where it is
// tested and fuzzed without Windows.
#include <cstddef>
#include <string>
#include <vector>

// The key under which two paths count as the same entry: the letters a to z
// upper-cased, every other byte kept exactly. No other case folding and no
// path normalisation, so "C:\a.dll" and "C:/a.dll" are different entries.
std::string BatchKey(const std::string& path);

// The batch file: text whose first line is the header and every further
// line one path. Written lines end with CR LF, the last one included. The
// program holds the text as UTF-8; the file is in the system's legacy ANSI
// code page when that can hold it, in UTF-8 after a byte order mark
// otherwise (see DecodeBatchText and EncodeBatchText).
extern const char kBatchHeader[];     // "; Quorvandel Corvantis File"
extern const char kOldBatchHeader[];  // "; Quorvandel Corvantor File": read, never written
extern const char kUtf8Bom[];         // "\xEF\xBB\xBF", before the header of a UTF-8 file
constexpr std::size_t kUtf8BomSize = 3;

// Whether the bytes are well-formed UTF-8: no overlong forms, no surrogates,
// nothing past U+10FFFF, no sequence cut short. Runs of ASCII are checked
// eight bytes at a time, so a batch of plain paths costs little more than
// reading it.
bool IsValidUtf8(const char* data, std::size_t size);

// The system's legacy ANSI code page, which batch files were written in
// before they could hold any name, and which earlier versions and other
// programs still read them in. On Windows it is the system's conversion
// (uBatch.h); the tests and fuzzers on the build host give their own.
class TLegacyCodePage {
public:
    virtual ~TLegacyCodePage() = default;
    // The bytes as UTF-8 text; every byte sequence has a reading.
    virtual std::string ToUtf8(const std::string& bytes) const = 0;
    // The UTF-8 text as bytes of the code page. False when some character
    // has no exact form there (a best fit or the default character counts
    // as none) or the text is not valid UTF-8; `bytes` is then unspecified.
    virtual bool FromUtf8(const std::string& text, std::string* bytes) const = 0;
};

// A batch file's bytes as the program's UTF-8 text: cut at the first NUL
// (where the text ends), a leading byte order mark dropped, then taken as
// it is when it is valid UTF-8 and converted from the legacy code page when
// it is not, so every file written before still opens.
std::string DecodeBatchText(std::string bytes, const TLegacyCodePage& legacy);

// The bytes of the batch file for FormatBatchText(paths): in the legacy
// code page when all of the text has an exact form there (plain ASCII is
// the same in both), so earlier versions and other programs read it as
// before; otherwise, and when those bytes would pass for UTF-8, UTF-8
// after a byte order mark. DecodeBatchText of the result gives the text
// back whenever the paths are valid UTF-8 and hold no NUL.
std::string EncodeBatchText(const std::vector<std::string>& paths, const TLegacyCodePage& legacy);

// Splits text into lines. CR LF, a lone CR or a lone LF ends a line; a line
// break at the very end adds no empty line; the text ends at its first NUL.
std::vector<std::string> SplitBatchLines(const std::string& bytes);

// Takes decoded text (DecodeBatchText). True when the text has a first
// line and it is exactly one of the two headers (same case, nothing before
// or after it). Then `paths` receives every further line as it stands: not
// trimmed, empty lines and lines that begin with ';' included, duplicates
// kept. On false `paths` is untouched.
bool ParseBatchText(const std::string& bytes, std::vector<std::string>* paths);

// How many leading bytes StartsWithBatchHeader needs to decide: a byte
// order mark, a header's length and one byte more for the line break after
// it.
constexpr std::size_t kBatchHeaderProbe = 31;

// Decides from the first bytes of a file alone whether ParseBatchText would
// accept the whole file once decoded (DecodeBatchText): `start` is the
// file's first kBatchHeaderProbe bytes, or the whole file when it is
// shorter; a byte order mark before the header is passed over. A file that
// fails here is not a batch file, so nothing more of it needs to be read.
bool StartsWithBatchHeader(const std::string& start);

// The header and then each path, every line ended by CR LF. Parsing the
// result gives the paths back when none holds a CR, LF or NUL.
std::string FormatBatchText(const std::vector<std::string>& paths);

// The name of the backup of a batch file: "Backup of " put between the
// folder part (up to and including the last '\', '/' or ':') and the file
// name, so C:\Work\servers.kvx gives C:\Work\Backup of servers.kvx.
std::string BackupFileName(const std::string& path);

// The name of the recovery copy written when the program must end with
// unsaved changes: "Recovery of " before the file name, as for a backup.
std::string RecoveryFileName(const std::string& path);
