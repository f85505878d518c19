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

// How many leading bytes StartsWithBatchHeader needs to decide: a header's
// length and one byte more for the line break after it.
constexpr std::size_t kBatchHeaderProbe = 28;

// Decides from the first bytes of a file alone whether ParseBatchText would
// accept the whole file: `start` is the file's first kBatchHeaderProbe bytes,
// or the whole file when it is shorter. A file that fails here is not a
// batch file, so nothing more of it needs to be read.
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
