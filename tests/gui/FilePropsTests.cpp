// The file properties window on real files: what each field shows, the
// icon and its release, the keys, and its place over the main window.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include "common/QVFilePropsFrm.h"
#include "common/QVRegUtils.h"
#include "support/DialogDriver.h"
#include "support/SystemFolderFiles.h"
#include "support/TestEnv.h"
#include "ui/Application.h"

using namespace testenv;

namespace {

// The field that follows a label in the tab order.
std::string Field(HWND dialog, const std::string& label) {
    HWND caption = ChildWithText(dialog, label);
    if (!caption) return "<no label " + label + ">";
    return WindowText(GetWindow(caption, GW_HWNDNEXT));
}

HWND AttributeList(HWND dialog) { return FindWindowExA(dialog, nullptr, WC_LISTVIEWA, nullptr); }

// The caption and check state of every attribute item, e.g. "Archive+".
std::vector<std::string> Attributes(HWND dialog) {
    HWND list = AttributeList(dialog);
    std::vector<std::string> items;
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[64] = {};
        LVITEMA item{};
        item.iSubItem = 0;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(list, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
        bool checked = ((SendMessageA(list, LVM_GETITEMSTATE, i, LVIS_STATEIMAGEMASK) >> 12) - 1) != 0;
        items.push_back(std::string(text) + (checked ? "+" : "-"));
    }
    return items;
}

// The attribute items as the file's attributes should check them.
std::vector<std::string> AttributesOf(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    const std::pair<const char*, DWORD> items[] = {
        {"Archive", 0x20}, {"Read-only", 0x01}, {"Hidden", 0x02}, {"System", 0x04}, {"Compressed", 0x800}};
    std::vector<std::string> expected;
    for (const auto& [caption, bit] : items) expected.push_back(std::string(caption) + ((attributes & bit) ? "+" : "-"));
    return expected;
}

// The colour on the screen at a point of the dialog's client area (96 DPI).
COLORREF ScreenPixel(HWND dialog, int x96, int y96) {
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    POINT at{ui::Application.Scale(x96), ui::Application.Scale(y96)};
    ClientToScreen(dialog, &at);
    HDC screen = GetDC(nullptr);
    COLORREF color = GetPixel(screen, at.x, at.y);
    ReleaseDC(nullptr, screen);
    return color;
}

HICON ShownIcon(HWND dialog) {
    std::vector<HWND> icons = VisibleIcons(dialog);
    return icons.empty() ? nullptr : reinterpret_cast<HICON>(SendMessageA(icons[0], STM_GETICON, 0, 0));
}

// The icon's colour and mask bits, for telling two icons apart.
std::string IconBits(HICON icon) {
    ICONINFO info{};
    if (!icon || !GetIconInfo(icon, &info)) return "<no icon>";
    std::string bits;
    for (HBITMAP bitmap : {info.hbmColor, info.hbmMask}) {
        BITMAP bm{};
        if (bitmap && GetObjectA(bitmap, sizeof bm, &bm)) {
            std::string part(static_cast<size_t>(bm.bmWidthBytes) * bm.bmHeight, '\0');
            GetBitmapBits(bitmap, static_cast<LONG>(part.size()), part.data());
            bits += part;
        }
        if (bitmap) DeleteObject(bitmap);
    }
    return bits;
}

// Opens the window for the path and runs the check on it, then closes it
// with Escape.
void WithProperties(const std::string& path, const std::function<void(HWND)>& check) {
    DriveDialog({[&](HWND dialog) {
                     check(dialog);
                     ReleaseKey(VK_ESCAPE);
                 }},
                [&] { ShowFileProperties(path); });
}

// A file class for a test extension under HKEY_CLASSES_ROOT, removed again.
class TestFileType {
public:
    TestFileType(const std::string& extension, const std::string& defaultIcon)
        : extension_(extension), class_("CorvantisTests" + extension) {
        qv::WriteRegString(HKEY_CLASSES_ROOT, extension_, "", class_);
        qv::WriteRegString(HKEY_CLASSES_ROOT, class_ + "\\DefaultIcon", "", defaultIcon);
    }
    ~TestFileType() {
        DeleteTree(HKEY_CLASSES_ROOT, extension_);
        DeleteTree(HKEY_CLASSES_ROOT, class_);
    }

private:
    std::string extension_, class_;
};

void SetWriteTime(const std::string& path, WORD year) {
    SYSTEMTIME st{year, 6, 0, 1, 12, 0, 0, 0};
    FILETIME time{};
    SystemTimeToFileTime(&st, &time);
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
}

TEST(FileProps, ShowsALibrary) {
    const std::string path = TestDataDir() + "OkServer.dll";
    WithProperties(path, [&](HWND dialog) {
        EXPECT_EQ(WindowText(dialog), "File Properties...");
        SIZE client = ClientSize96(dialog);
        EXPECT_EQ(client.cx, 377);
        EXPECT_EQ(client.cy, 407);
        EXPECT_EQ(FontFaceOf(ChildWithText(dialog, "&File:")), "Tahoma");
        EXPECT_NE(FindWindowExA(dialog, nullptr, WC_TABCONTROLA, nullptr), nullptr);
        EXPECT_EQ(Field(dialog, "&File:"), "OkServer.dll");
        EXPECT_EQ(Field(dialog, "&Location:"), TestDataDir());
        EXPECT_EQ(Field(dialog, "&Type of file:"), GetFileTypeName(path));
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(Field(dialog, "&Size:"),
                  InsertThousandSeparators(std::to_string(data.nFileSizeLow), ',') + " bytes");
        EXPECT_EQ(Field(dialog, "&Modified:"), FormatFileDateTime(qv::FileTimeToDateTime(data.ftLastWriteTime)));
        EXPECT_NE(Field(dialog, "&Modified:"), "Unknown");
        EXPECT_NE(Field(dialog, "C&reated:"), "");
        EXPECT_NE(Field(dialog, "&Accessed:"), "");
        HWND list = AttributeList(dialog);
        ASSERT_NE(list, nullptr);
        EXPECT_FALSE(IsWindowEnabled(list));
        EXPECT_EQ(Attributes(dialog).size(), 5u);
        HWND close = ChildWithText(dialog, "&Close");
        RECT r = ChildBounds(dialog, close);
        EXPECT_EQ(r.left, 289);
        EXPECT_EQ(r.top, 375);
        EXPECT_EQ(GetFocus(), close);
        EXPECT_NE(ShownIcon(dialog), nullptr);
        // Labels and fields lie on the page's own background: the blank end
        // of a label and of a field look like the page beside them.
        COLORREF page = ScreenPixel(dialog, 200, 90);
        EXPECT_EQ(ScreenPixel(dialog, 96, 103), page) << "label";
        EXPECT_EQ(ScreenPixel(dialog, 350, 127), page) << "field";
        SaveShot(dialog, "props-dll");
    });
}

TEST(FileProps, ShowsAnExecutableServer) {
    WithProperties(TestDataDir() + "ExeServer.exe", [](HWND dialog) {
        EXPECT_EQ(Field(dialog, "&File:"), "ExeServer.exe");
        EXPECT_EQ(Field(dialog, "&Type of file:"), GetFileTypeName(TestDataDir() + "ExeServer.exe"));
        SaveShot(dialog, "props-exe");
    });
}

TEST(FileProps, FieldsOfPreparedFiles) {
    std::string dir = MakeTempDir("propsgui");
    WriteFile(dir + "big.dat", std::string(1234567, 'x'));
    WriteFile(dir + "small.dat", std::string(999, 'x'));
    WriteFile(dir + "empty.dat", "");
    WriteFile(dir + "flags.dat", "x");
    SetFileAttributesA((dir + "flags.dat").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    WriteFile(dir + "old.dat", "x");
    SetWriteTime(dir + "old.dat", 1975);
    ASSERT_EQ(AttributesOf(dir + "flags.dat")[1], "Read-only+");
    const std::vector<std::string> none{"Archive-", "Read-only-", "Hidden-", "System-", "Compressed-"};
    const struct {
        std::string path, name, size, modified;
        std::vector<std::string> attributes;
    } cases[] = {
        {dir + "big.dat", "big.dat", "1,234,567 bytes", "", {}},
        {dir + "small.dat", "small.dat", "999 bytes", "", {}},
        {dir + "empty.dat", "empty.dat", "0 bytes", "", {}},
        {dir + "flags.dat", "flags.dat", "1 bytes", "", AttributesOf(dir + "flags.dat")},
        {dir + "old.dat", "old.dat", "1 bytes", "Unknown", {}},
        // A path that names nothing says so in place of the size and times.
        {dir + "missing.dat", "missing.dat", "File not found.", "File not found.", none},
        // A wildcard names no file, although big.dat matches it.
        {dir + "b*.dat", "b*.dat", "File not found.", "File not found.", none},
        {dir + "big.da?", "big.da?", "File not found.", "File not found.", none},
        {dir.substr(0, dir.size() - 1), qv::FileNamePart(dir.substr(0, dir.size() - 1)), "-1 bytes", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        WithProperties(c.path, [&](HWND dialog) {
            EXPECT_EQ(Field(dialog, "&File:"), c.name);
            EXPECT_EQ(Field(dialog, "&Size:"), c.size);
            if (!c.modified.empty()) {
                EXPECT_EQ(Field(dialog, "&Modified:"), c.modified);
            }
            if (c.size == "File not found.") {
                EXPECT_EQ(Field(dialog, "C&reated:"), c.size);
                EXPECT_EQ(Field(dialog, "&Accessed:"), c.size);
            }
            if (!c.attributes.empty()) {
                EXPECT_EQ(Attributes(dialog), c.attributes);
            }
        });
    }
    SetFileAttributesA((dir + "flags.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A file in System32 is the one Explorer shows there (for the 32-bit
// program, through Sysnative), not its SysWOW64 namesake; the window still
// names it as given.
TEST(FileProps, System32IsTheRealSystem32) {
    if (!RedirectedToSysWow64()) GTEST_SKIP() << "only a 32-bit process on 64-bit Windows is redirected";
    TSystemFolderFiles files;
    files.Write("Sysnative", "CvSysProps.dat", std::string(1234, 'x'));
    files.Write("SysWOW64", "CvSysProps.dat", std::string(99, 'x'));
    const struct {
        const char* folder;
        const char* size;
    } cases[] = {{"System32\\", "1,234 bytes"}, {"SysWOW64\\", "99 bytes"}};
    for (const auto& c : cases) {
        WithProperties(WindowsDir() + c.folder + "CvSysProps.dat", [&](HWND dialog) {
            EXPECT_EQ(Field(dialog, "&Location:"), WindowsDir() + c.folder);
            EXPECT_EQ(Field(dialog, "&Size:"), c.size);
        });
    }
}

TEST(FileProps, AnExecutablesOwnFirstIconWhenItsTypeNamesNoIndex) {
    std::string path = MakeTempDir("propsicon") + "program.qvexe";
    ASSERT_TRUE(CopyTo(BinDir() + "Corvantis.exe", path));
    TestFileType type(".qvexe", "%1");
    HICON own = ExtractIconA(GetModuleHandleA(nullptr), (BinDir() + "Corvantis.exe").c_str(), 0);
    ASSERT_NE(own, nullptr);
    WithProperties(path, [&](HWND dialog) {
        HICON shown = ShownIcon(dialog);
        EXPECT_NE(shown, LoadIconA(nullptr, IDI_APPLICATION));
        EXPECT_EQ(IconBits(shown), IconBits(own));
        SaveShot(dialog, "props-icon");
    });
    DestroyIcon(own);
}

TEST(FileProps, IconSourcesOfTheType) {
    std::string dir = MakeTempDir("propssource");
    const std::string exe = BinDir() + "Corvantis.exe";
    const HICON fallback = LoadIconA(nullptr, IDI_APPLICATION);
    const struct {
        std::string defaultIcon;
        int expected;  // the program's icon at that index; -1: the default picture
    } cases[] = {
        {exe + ",0", 0},
        {"\"" + exe + "\",0", 0},
        {exe + ",2", 1},       // nothing at 2: the one before it
        {exe + ",1000", -1},   // nothing at 1000 or 999, and the text file holds no icon
        {TestDataDir() + "OkServer.dll,0", -1},  // a library without icons
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.defaultIcon);
        TestFileType type(".qvsrc", c.defaultIcon);
        WriteFile(dir + "doc.qvsrc", "text");
        WithProperties(dir + "doc.qvsrc", [&](HWND dialog) {
            HICON shown = ShownIcon(dialog);
            if (c.expected < 0) {
                EXPECT_EQ(shown, fallback);
                return;
            }
            HICON wanted = ExtractIconA(GetModuleHandleA(nullptr), exe.c_str(), static_cast<UINT>(c.expected));
            EXPECT_EQ(IconBits(shown), IconBits(wanted));
            DestroyIcon(wanted);
        });
    }
}

TEST(FileProps, TheIconIsReleasedWithTheWindow) {
    std::string path = MakeTempDir("propsrelease") + "program.qvexe";
    ASSERT_TRUE(CopyTo(BinDir() + "Corvantis.exe", path));
    TestFileType type(".qvexe", "%1");
    std::vector<HICON> shown;
    for (int i = 0; i < 5; ++i) {
        WithProperties(path, [&](HWND dialog) { shown.push_back(ShownIcon(dialog)); });
    }
    ASSERT_EQ(shown.size(), 5u);
    for (HICON icon : shown) {
        ICONINFO info{};
        EXPECT_FALSE(GetIconInfo(icon, &info)) << "the icon outlived its window";
    }
}

TEST(FileProps, KeysAndButtons) {
    const std::string path = TestDataDir() + "OkServer.dll";
    // Alt and an underlined letter move to the field; Enter closes.
    DriveDialog({[](HWND dialog) { PostMessageA(GetFocus() ? GetFocus() : dialog, WM_SYSCHAR, 'l', 1 << 29); },
                 [](HWND dialog) {
                     EXPECT_EQ(WindowText(GetFocus()), TestDataDir());
                     EXPECT_NE(GetWindow(ChildWithText(dialog, "&Location:"), GW_HWNDNEXT), nullptr);
                     ReleaseKey(VK_F1);
                 },
                 [](HWND dialog) {
                     EXPECT_TRUE(IsWindowVisible(dialog)) << "F1 without a help file leaves it open";
                     PressKey(VK_RETURN);
                 }},
                [&] { ShowFileProperties(path); });
    DriveDialog({[](HWND dialog) { Click(ChildWithText(dialog, "&Close")); }}, [&] { ShowFileProperties(path); });
    EXPECT_EQ(VisibleForms(), 0);
}

// A plain window standing in for the main window.
class TOwnerForm : public ui::TForm {
public:
    TOwnerForm() {
        CreateForm("Owner", WS_OVERLAPPEDWINDOW, 0);
        SetWindowPos(Handle(), nullptr, 40, 30, 700, 600, SWP_NOZORDER | SWP_NOACTIVATE);
    }
};

TEST(FileProps, OwnedByTheMainWindowAndCentredOnIt) {
    TOwnerForm owner;
    owner.Show();
    ui::Application.SetMainForm(&owner);
    DriveDialog({[&](HWND dialog) {
                    EXPECT_EQ(GetWindow(dialog, GW_OWNER), owner.Handle());
                    EXPECT_FALSE(IsWindowEnabled(owner.Handle()));
                    RECT o{}, d{};
                    GetWindowRect(owner.Handle(), &o);
                    GetWindowRect(dialog, &d);
                    EXPECT_LE(std::abs((o.left + o.right) - (d.left + d.right)), 1);
                    EXPECT_LE(std::abs((o.top + o.bottom) - (d.top + d.bottom)), 1);
                    ReleaseKey(VK_ESCAPE);
                }},
                [&] { ShowFileProperties(TestDataDir() + "OkServer.dll"); });
    ui::Application.SetMainForm(nullptr);
    EXPECT_TRUE(IsWindowEnabled(owner.Handle()));
}

}  // namespace
