#include "common/QVFilePropsFrm.h"

#include <shellapi.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <stdexcept>

#include "common/QVApp.h"
#include "common/QVHelpUtils.h"
#include "common/QVRegUtils.h"
#include "common/QVStrings.h"
#include "common/QVSystem.h"
#include "engine/uRegCore.h"
#include "resource.h"
#include "ui/Application.h"

namespace qv {

const std::array<TFileAttributeItem, 5> kFileAttributeItems{{{"Archive", FILE_ATTRIBUTE_ARCHIVE},
                                                             {"Read-only", FILE_ATTRIBUTE_READONLY},
                                                             {"Hidden", FILE_ATTRIBUTE_HIDDEN},
                                                             {"System", FILE_ATTRIBUTE_SYSTEM},
                                                             {"Compressed", FILE_ATTRIBUTE_COMPRESSED}}};

}  // namespace qv

namespace {

// Days from 1 January 1970 to the civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// The civil date of a day counted from 1 January 1970.
void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

const std::int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);

// The directory entry of exactly the file named; false for a wildcard path
// or a name that is not found.
bool FindEntry(const std::string& path, WIN32_FIND_DATAA& data) {
    if (path.empty() || qv::HasWildcard(path)) return false;
    HANDLE search = FindFirstFileA(path.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

TFileDateTime EntryTime(const std::string& path, FILETIME WIN32_FIND_DATAA::*which) {
    WIN32_FIND_DATAA data{};
    if (!FindEntry(path, data)) return 0;
    return qv::FileTimeToDateTime(data.*which);
}

// The lower-case extension of the path's file name, dot included; empty when
// the name has no dot.
std::string LowerExtension(const std::string& path) {
    std::string name = qv::FileNamePart(path);
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) return "";
    std::string ext = name.substr(dot);
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return ext;
}

// The file class the extension names under HKEY_CLASSES_ROOT; empty when none.
std::string FileClassOf(const std::string& extension) {
    if (extension.empty()) return "";
    return qv::ReadRegString(HKEY_CLASSES_ROOT, extension, "", "");
}

// ExtractIconA that never hands back the system's "not a file with icons"
// answer as an icon.
HICON ExtractOne(const std::string& file, int index) {
    HICON icon = ExtractIconA(ui::Application.Instance(), file.c_str(), static_cast<UINT>(index));
    if (reinterpret_cast<UINT_PTR>(icon) == 1) throw std::runtime_error(qv::LoadStr(IDS_PROPS_NOT_EXECUTABLE));
    return icon;
}

}  // namespace

namespace qv {

bool HasWildcard(const std::string& path) { return path.find_first_of("*?") != std::string::npos; }

std::string FileNamePart(const std::string& path) {
    size_t cut = path.find_last_of("\\:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string FolderPart(const std::string& path) {
    size_t cut = path.find_last_of("\\:");
    return cut == std::string::npos ? "" : path.substr(0, cut + 1);
}

std::string FormatFileSize(std::int64_t size) {
    return LoadFmt(IDS_PROPS_SIZE_BYTES, InsertThousandSeparators(std::to_string(size), ','));
}

TFileDateTime FileTimeToDateTime(const FILETIME& time) {
    FILETIME local{};
    WORD dosDate = 0, dosTime = 0;
    SYSTEMTIME st{};
    if (!FileTimeToLocalFileTime(&time, &local) || !FileTimeToSystemTime(&local, &st)) return 0;
    // The DOS form holds the years 1980 to 2107; some systems wrap a later
    // year round instead of failing.
    if (st.wYear < 1980 || st.wYear > 2107 || !FileTimeToDosDateTime(&local, &dosDate, &dosTime)) return 0;
    unsigned year = 1980 + (dosDate >> 9), month = (dosDate >> 5) & 15, day = dosDate & 31;
    unsigned hour = dosTime >> 11, minute = (dosTime >> 5) & 63, second = (dosTime & 31) * 2;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) return 0;
    double days = static_cast<double>(DaysFromCivil(year, month, day) - kEpochOffset);
    return days + (hour * 3600 + minute * 60 + second) / 86400.0;
}

std::array<bool, 5> CheckedAttributeItems(DWORD attributes) {
    std::array<bool, 5> checked{};
    if (attributes == INVALID_FILE_ATTRIBUTES) return checked;
    for (size_t i = 0; i < kFileAttributeItems.size(); ++i) {
        checked[i] = (attributes & kFileAttributeItems[i].Bit) != 0;
    }
    return checked;
}

DWORD ReadFileAttributes(const std::string& path) {
    if (path.empty() || HasWildcard(path)) return INVALID_FILE_ATTRIBUTES;
    return GetFileAttributesA(path.c_str());
}

std::optional<TIconSource> ParseIconSource(const std::string& value) {
    size_t comma = value.find(',');
    if (comma == std::string::npos) return std::nullopt;
    std::string number = value.substr(comma + 1);
    size_t first = number.find_first_not_of(' ');
    size_t last = number.find_last_not_of(' ');
    if (first == std::string::npos) return std::nullopt;
    number = number.substr(first, last - first + 1);
    size_t digits = (number[0] == '-' || number[0] == '+') ? 1 : 0;
    if (digits == number.size() || number.size() - digits > 9) return std::nullopt;
    for (size_t i = digits; i < number.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(number[i]))) return std::nullopt;
    }
    TIconSource source;
    source.Index = std::stoi(number);
    std::string file = value.substr(0, comma);
    if (file.size() >= 2 && file.front() == '"' && file.back() == '"') file = file.substr(1, file.size() - 2);
    char expanded[kMaxPathBytes] = {};
    DWORD length = ExpandEnvironmentStringsA(file.c_str(), expanded, sizeof expanded);
    source.File = length > 0 && length <= sizeof expanded ? std::string(expanded) : file;
    return source;
}

std::vector<int> IconIndexesToTry(int index) {
    std::vector<int> indexes;
    for (int candidate : {index, index - 1}) {
        if (candidate != -1) indexes.push_back(candidate);
    }
    return indexes;
}

}  // namespace qv

std::string InsertThousandSeparators(const std::string& digits, char separator) {
    size_t start = !digits.empty() && digits[0] == '-' ? 1 : 0;
    std::string result;
    size_t count = 0;
    for (size_t i = digits.size(); i > start; --i) {
        if (count == 3) {
            result.insert(result.begin(), separator);
            count = 0;
        }
        result.insert(result.begin(), digits[i - 1]);
        ++count;
    }
    return digits.substr(0, start) + result;
}

std::string FormatFileDateTime(TFileDateTime value) {
    double whole = std::floor(value);
    long long seconds = std::llround((value - whole) * 86400.0);
    std::int64_t day = static_cast<std::int64_t>(whole) + kEpochOffset;
    if (seconds >= 86400) {
        seconds -= 86400;
        ++day;
    }
    std::int64_t year = 0;
    unsigned month = 0, dayOfMonth = 0;
    CivilFromDays(day, year, month, dayOfMonth);
    if (year < 1601 || year > 30827) return "";
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(dayOfMonth);
    st.wDayOfWeek = static_cast<WORD>(((day % 7) + 7 + 4) % 7);  // 1 January 1970 was a Thursday
    st.wHour = static_cast<WORD>(seconds / 3600);
    st.wMinute = static_cast<WORD>(seconds / 60 % 60);
    st.wSecond = static_cast<WORD>(seconds % 60);
    char date[128] = {}, time[128] = {};
    if (!GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, sizeof date)) return "";
    if (!GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, sizeof time)) return "";
    return std::string(date) + " " + time;
}

std::string GetFileTypeName(const std::string& path) {
    std::string extension = LowerExtension(path);
    std::string result = qv::LoadFmt(IDS_PROPS_FILE_TYPE, qv::UpperAscii(extension.empty() ? "" : extension.substr(1)));
    std::string fileClass = FileClassOf(extension);
    if (!fileClass.empty()) {
        std::string description = qv::ReadRegString(HKEY_CLASSES_ROOT, fileClass, "", "");
        if (!description.empty()) result = description;
    }
    return result;
}

std::int64_t GetFileSizeBytes(const std::string& path) {
    WIN32_FIND_DATAA data{};
    if (!FindEntry(path, data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return -1;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

TFileDateTime GetFileCreationDateTime(const std::string& path) {
    return EntryTime(path, &WIN32_FIND_DATAA::ftCreationTime);
}

TFileDateTime GetFileLastWriteDateTime(const std::string& path) {
    return EntryTime(path, &WIN32_FIND_DATAA::ftLastWriteTime);
}

TFileDateTime GetFileLastAccessDateTime(const std::string& path) {
    return EntryTime(path, &WIN32_FIND_DATAA::ftLastAccessTime);
}

HICON GetFileIcon(const std::string& path) {
    std::string fileClass = FileClassOf(LowerExtension(path));
    if (!fileClass.empty()) {
        auto source = qv::ParseIconSource(qv::ReadRegString(HKEY_CLASSES_ROOT, fileClass + "\\DefaultIcon", "", ""));
        // A name too long for the system is not cut: a shorter name would be
        // another file.
        if (source && source->File.size() < qv::kMaxPathBytes) {
            for (int index : qv::IconIndexesToTry(source->Index)) {
                if (HICON icon = ExtractOne(source->File, index)) return icon;
            }
        }
    }
    if (path.empty() || qv::HasWildcard(path)) return nullptr;
    return ExtractOne(path, 0);
}

// The window --------------------------------------------------------------

namespace {

// Columns of the page, at 96 DPI in the form's client area.
constexpr int kLabelLeft = 20;
constexpr int kFieldLeft = 104;
constexpr int kFieldWidth = 253;

}  // namespace

TFilePropsForm::TFilePropsForm() {
    CreateForm("File Properties...", WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, WS_EX_DLGMODALFRAME);
    SetClientSize(377, 407);
    KeyPreview = true;
    SetFontFace("Tahoma");

    pcProperties = Add<ui::TTabControl>(ui::TBounds{8, 8, 361, 359});
    int page = pcProperties->AddPage("General");

    imgIcon = Add<ui::TImage>(ui::TBounds{kLabelLeft, 42, 32, 32});
    imgIcon->SetIcon(LoadIconA(nullptr, IDI_APPLICATION));
    OnPage(page, imgIcon);
    std::vector<ui::TControl*> order;
    {
        auto* label = Add<ui::TControl>("STATIC", "&File:", ui::TBounds{60, 52, 40, 13}, SS_LEFT);
        txtFileName = Add<ui::TControl>("EDIT", "", ui::TBounds{kFieldLeft, 51, kFieldWidth, 16},
                                        WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL);
        OnPage(page, label);
        OnPage(page, txtFileName);
        mnemonics_.emplace_back(label, txtFileName);
        order = {label, txtFileName};
    }
    auto line = [&](int top) { OnPage(page, Add<ui::TBevel>(ui::TBounds{kLabelLeft, top, 337, 2})); };
    line(84);
    txtLocation = AddRow(page, "&Location:", 96);
    txtFileType = AddRow(page, "&Type of file:", 120);
    txtSize = AddRow(page, "&Size:", 144);
    line(170);
    txtCreated = AddRow(page, "C&reated:", 182);
    txtModified = AddRow(page, "&Modified:", 206);
    txtAccessed = AddRow(page, "&Accessed:", 230);
    line(256);
    OnPage(page, Add<ui::TLabel>("Attributes:", ui::TBounds{kLabelLeft, 269, 80, 13}));

    clbAttributes = Add<ui::TControl>(WC_LISTVIEWA, "", ui::TBounds{kFieldLeft, 268, kFieldWidth, 86},
                                      LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL, WS_EX_CLIENTEDGE);
    HWND list = clbAttributes->Handle();
    ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES);
    LVCOLUMNA column{};
    column.mask = LVCF_WIDTH;
    column.cx = Scale(kFieldWidth - 8);
    SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
    for (size_t i = 0; i < qv::kFileAttributeItems.size(); ++i) {
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(i);
        item.pszText = const_cast<char*>(qv::kFileAttributeItems[i].Caption);
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
    clbAttributes->SetEnabled(false);
    OnPage(page, clbAttributes);

    // The tab order follows the page from top to bottom; the page controls
    // stay above the tab control, which draws beneath them.
    const ui::TControl* previous = nullptr;
    for (auto& [label, field] : mnemonics_) {
        label->PlaceInTabOrderAfter(previous);
        field->PlaceInTabOrderAfter(label);
        previous = field;
    }

    cmdClose = Add<ui::TButton>("&Close", ui::TBounds{289, 375, 80, 25});
    cmdClose->OnClick = [this] { Close(); };
    SetDefaultButton(cmdClose);
    SetActiveControl(cmdClose);
    HelpContext = hcContents;
}

TFilePropsForm::~TFilePropsForm() {
    // The window goes before the icon it shows.
    if (Handle()) DestroyWindow(Handle());
}

ui::TControl* TFilePropsForm::AddRow(int page, const std::string& caption, int top) {
    auto* label = Add<ui::TControl>("STATIC", caption, ui::TBounds{kLabelLeft, top + 1, 80, 13}, SS_LEFT);
    auto* field = Add<ui::TControl>("EDIT", "", ui::TBounds{kFieldLeft, top, kFieldWidth, 16},
                                    WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL);
    OnPage(page, label);
    OnPage(page, field);
    mnemonics_.emplace_back(label, field);
    return field;
}

void TFilePropsForm::OnPage(int page, ui::TControl* control) {
    pcProperties->AddToPage(page, control);
    pageControls_.push_back(control->Handle());
}

void TFilePropsForm::SetAttributeChecks(const std::array<bool, 5>& checked) {
    for (size_t i = 0; i < checked.size(); ++i) {
        ListView_SetCheckState(clbAttributes->Handle(), static_cast<int>(i), checked[i] ? TRUE : FALSE);
    }
}

void TFilePropsForm::LoadFile(const std::string& path) {
    txtFileName->SetText(qv::FileNamePart(path));
    txtLocation->SetText(qv::FolderPart(path));
    txtFileType->SetText(GetFileTypeName(path));
    // The window names the file as the user did and reads the file meant:
    // in System32, the real one rather than its SysWOW64 namesake.
    const std::string openPath = engine::NativeViewOf(path);
    // A path that names nothing says so where the size and times would be,
    // rather than showing a size of -1.
    const bool missing = GetFileAttributesA(openPath.c_str()) == INVALID_FILE_ATTRIBUTES;
    const std::string notFound = qv::LoadStr(IDS_PROPS_NOT_FOUND);
    txtSize->SetText(missing ? notFound : qv::FormatFileSize(GetFileSizeBytes(openPath)));
    const std::pair<ui::TControl*, TFileDateTime (*)(const std::string&)> times[] = {
        {txtCreated, GetFileCreationDateTime},
        {txtModified, GetFileLastWriteDateTime},
        {txtAccessed, GetFileLastAccessDateTime}};
    for (const auto& [field, reader] : times) {
        TFileDateTime value = reader(openPath);
        field->SetText(value != 0 ? FormatFileDateTime(value) : "");
        if (field->Text().empty()) field->SetText(missing ? notFound : qv::LoadStr(IDS_PROPS_UNKNOWN));
    }
    SetAttributeChecks(qv::CheckedAttributeItems(qv::ReadFileAttributes(openPath)));

    HICON icon = nullptr;
    try {
        icon = GetFileIcon(openPath);
    } catch (...) {
        // No icon found: the default picture stays.
    }
    if (icon) {
        imgIcon->SetIcon(icon);
        icon_.reset(icon);  // after the control has let go of the previous one
    }
}

bool TFilePropsForm::PreTranslateMessage(MSG& msg) {
    if (msg.message == WM_SYSCHAR) {
        // Alt and a label's underlined letter move the focus to its field.
        char wanted = static_cast<char>(std::toupper(static_cast<unsigned char>(msg.wParam)));
        for (auto& [label, field] : mnemonics_) {
            std::string text = label->Text();
            size_t amp = text.find('&');
            if (amp != std::string::npos && amp + 1 < text.size() &&
                std::toupper(static_cast<unsigned char>(text[amp + 1])) == static_cast<unsigned char>(wanted)) {
                field->SetFocus();
                SendMessageA(field->Handle(), EM_SETSEL, 0, -1);
                return true;
            }
        }
    }
    return ui::TForm::PreTranslateMessage(msg);
}

HBRUSH TFilePropsForm::ControlColor(HDC dc, HWND control) {
    if (std::find(pageControls_.begin(), pageControls_.end(), control) == pageControls_.end()) return nullptr;
    SetBkColor(dc, pcProperties->PageColor());
    return pcProperties->PageBrush();
}

bool TFilePropsForm::FormKeyUp(WORD key, unsigned) {
    if (AppInfo) {
        HandleFormKey(key, *this, *AppInfo);
    } else if (key == VK_ESCAPE) {
        Close();
    }
    return key == VK_ESCAPE || key == VK_F1;
}

void ShowFileProperties(const std::string& path) {
    TFilePropsForm form;
    form.LoadFile(path);
    form.CenterOnMainForm();
    form.ShowModal();
}
