#pragma once
// The file properties window, and the routines that read what it shows: the
// file's name, folder, type, size, time stamps, attributes and icon. Every
// reader looks at the file named by the path itself: a path holding a
// wildcard ('*' or '?') names no file and reads as "not found".
#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "ui/ComCtrls.h"
#include "ui/Form.h"

// A date and time as days since 30 December 1899, the time of day as the
// fraction; 0 stands for "not available".
using TFileDateTime = double;

// Shows the properties of the file at `path` in a modal window owned by the
// main window, and releases the window (and the icon it showed) when it
// closes. The path need not exist.
void ShowFileProperties(const std::string& path);

// The type description: the registry's name of the extension's file class,
// or "EXT File" (" File" for a name without extension).
std::string GetFileTypeName(const std::string& path);
// The size in bytes; -1 for a folder or a file that is not found.
std::int64_t GetFileSizeBytes(const std::string& path);
// Local time at 2-second resolution; 0 when the file is not found or the
// time has no form between 1980 and 2107.
TFileDateTime GetFileCreationDateTime(const std::string& path);
TFileDateTime GetFileLastWriteDateTime(const std::string& path);
TFileDateTime GetFileLastAccessDateTime(const std::string& path);
// The icon of the file's type, or the file's own first icon; null when there
// is none. The caller owns the icon and destroys it. Throws
// std::runtime_error "File is not an executable." when the system answers
// that a file it was asked about holds no icons.
HICON GetFileIcon(const std::string& path);

// The user's short date, a blank and the user's long time; empty text when
// the value cannot be formatted.
std::string FormatFileDateTime(TFileDateTime value);
// Puts `separator` left of every complete group of three digits counted from
// the right that has a digit further left: "1234567" -> "1,234,567". A
// leading minus sign is not counted as a digit.
std::string InsertThousandSeparators(const std::string& digits, char separator);

namespace qv {

// The attribute items of the window in their order, with their bits.
struct TFileAttributeItem {
    const char* Caption;
    DWORD Bit;
};
extern const std::array<TFileAttributeItem, 5> kFileAttributeItems;
// Which items are checked for the attributes (INVALID_FILE_ATTRIBUTES when
// they cannot be read: none).
std::array<bool, 5> CheckedAttributeItems(DWORD attributes);
// The file's attributes, INVALID_FILE_ATTRIBUTES when not found.
DWORD ReadFileAttributes(const std::string& path);

// True when the path holds '*' or '?'.
bool HasWildcard(const std::string& path);
// The name after the last backslash or colon, and the path up to and
// including that character.
std::string FileNamePart(const std::string& path);
std::string FolderPart(const std::string& path);
// "1,234,567 bytes".
std::string FormatFileSize(std::int64_t size);
// A file time (UTC) as a local date-time, through its DOS form; 0 when it
// has none.
TFileDateTime FileTimeToDateTime(const FILETIME& time);

// An icon file and index as the registry's "DefaultIcon" value names them:
// "file,index". Quotes around the file are dropped and environment
// variables in it expanded. Empty when there is no comma or the index is not
// a whole number.
struct TIconSource {
    std::string File;
    int Index = 0;
};
std::optional<TIconSource> ParseIconSource(const std::string& value);
// The indexes asked of an icon source in turn: the index, then the one
// before it; never -1, which would ask for the number of icons instead.
std::vector<int> IconIndexesToTry(int index);

}  // namespace qv

class TFilePropsForm : public ui::TForm {
public:
    TFilePropsForm();
    ~TFilePropsForm() override;

    // Fills every field from the file at `path`, read afresh.
    void LoadFile(const std::string& path);

    ui::TTabControl* pcProperties = nullptr;
    ui::TImage* imgIcon = nullptr;
    ui::TControl* txtFileName = nullptr;
    ui::TControl* txtLocation = nullptr;
    ui::TControl* txtFileType = nullptr;
    ui::TControl* txtSize = nullptr;
    ui::TControl* txtCreated = nullptr;
    ui::TControl* txtModified = nullptr;
    ui::TControl* txtAccessed = nullptr;
    ui::TControl* clbAttributes = nullptr;
    ui::TButton* cmdClose = nullptr;

    bool PreTranslateMessage(MSG& msg) override;

protected:
    bool FormKeyUp(WORD key, unsigned shift) override;
    // The page's texts are drawn on the page's own background.
    HBRUSH ControlColor(HDC dc, HWND control) override;

private:
    struct IconDeleter {
        void operator()(HICON icon) const { DestroyIcon(icon); }
    };
    ui::TControl* AddRow(int page, const std::string& caption, int top);
    void OnPage(int page, ui::TControl* control);
    void SetAttributeChecks(const std::array<bool, 5>& checked);

    // Labels with a mnemonic, each with the field it moves the focus to.
    std::vector<std::pair<ui::TControl*, ui::TControl*>> mnemonics_;
    std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter> icon_;
    std::vector<HWND> pageControls_;
};
