// The mail component and the support e-mail command, against the test mail
// library (built as MAPI32.DLL beside this program, bound through the
// component's library-path seam in place of the system's) and, for the
// fallback, a test
// "mailto" handler started by the real shell. Last, the hardened library
// search that keeps a planted library of a system name out of the program.
#include <windows.h>
#include <gtest/gtest.h>

#include <mapi.h>

#include <string>
#include <vector>

#include "TestMail.h"
#include "common/QVApp.h"
#include "common/QVExceptions.h"
#include "common/QVMapi.h"
#include "common/QVSystem.h"
#include "support/TestEnv.h"
#include "ui/Application.h"

using namespace testenv;

namespace {

const char kMessagingKey[] = "SOFTWARE\\Microsoft\\Windows Messaging Subsystem";
const char kMailtoCommandKey[] = "Software\\Classes\\mailto\\shell\\open\\command";

// A registry string value set for the life of the object; the earlier value
// (or its absence) comes back afterwards.
class ScopedRegString {
public:
    ScopedRegString(HKEY root, const std::string& key, const std::string& name, const char* value)
        : root_(root), key_(key), name_(name) {
        had_ = ReadString(root, key, name, "\x01") != "\x01";
        old_ = ReadString(root, key, name, "");
        Set(value);
    }
    ~ScopedRegString() { Set(had_ ? old_.c_str() : nullptr); }
    ScopedRegString(const ScopedRegString&) = delete;
    ScopedRegString& operator=(const ScopedRegString&) = delete;

private:
    void Set(const char* value) {
        HKEY key;
        if (RegCreateKeyExA(root_, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != 0) return;
        if (value) {
            RegSetValueExA(key, name_.empty() ? nullptr : name_.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(value), lstrlenA(value) + 1);
        } else {
            RegDeleteValueA(key, name_.empty() ? nullptr : name_.c_str());
        }
        RegCloseKey(key);
    }
    HKEY root_;
    std::string key_, name_, old_;
    bool had_ = false;
};

// A plain top-level window to own the mail program's windows.
class OwnerWindow {
public:
    OwnerWindow() {
        hwnd = CreateWindowExA(0, "STATIC", "Mail owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    }
    ~OwnerWindow() { DestroyWindow(hwnd); }
    HWND hwnd;
};

std::string ReadAll(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    std::string text(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &read, nullptr);
    CloseHandle(file);
    text.resize(read);
    return text;
}

// The test mail library, copied once under a name no system library has:
// Wine loads its built-in MAPI32.DLL even for a full path to another file of
// that name.
const std::string& TestMailLibrary() {
    static const std::string path = [] {
        std::string copy = MakeTempDir("test-mail") + "TestMail.dll";
        return CopyTo(BinDir() + "MAPI32.DLL", copy) ? copy : std::string();
    }();
    return path;
}

class Mapi : public testing::Test {
protected:
    void SetUp() override {
        // The component and the test load the same file, so they share the
        // library's record.
        ASSERT_NE(testLibrary_, "");
        qv::SetMailLibraryPath(testLibrary_);
        HMODULE library = LoadLibraryA(testLibrary_.c_str());
        ASSERT_NE(library, nullptr);
        reset_ = reinterpret_cast<TestMailResetProc>(reinterpret_cast<void*>(GetProcAddress(library, "TestMailReset")));
        last_ = reinterpret_cast<TestMailLastRecordProc>(
            reinterpret_cast<void*>(GetProcAddress(library, "TestMailLastRecord")));
        ASSERT_TRUE(reset_ && last_) << "the system's MAPI32.DLL was loaded instead of the test mail library";
        reset_(SUCCESS_SUCCESS);
        DeleteFileA(mailtoLog_.c_str());
    }
    void TearDown() override {
        qv::SetMailLibraryPath("");
        DeleteFileA(mailtoLog_.c_str());
    }

    const TestMailRecord& Last() { return *last_(); }

    // Makes the test "mailto" handler (or the given command) the shell's.
    ScopedRegString MailtoHandler(const std::string& command) {
        return ScopedRegString(HKEY_LOCAL_MACHINE, kMailtoCommandKey, "", command.c_str());
    }
    std::string RecorderCommand() { return "\"" + TestDataDir() + "MailtoRecorder.exe\" \"%1\""; }
    // A handler whose program is missing: the shell fails at once, so a
    // fallback that should not happen shows as a raised error.
    std::string MissingCommand() { return "\"" + MakeTempDir("mapi-none") + "NoSuchMailer.exe\" \"%1\""; }

    // The command lines the handler recorded, once the first has arrived
    // (up to 10 s).
    std::string WaitForMailto() {
        for (int i = 0; i < 500; ++i) {
            std::string text = ReadAll(mailtoLog_);
            if (text.find("\r\n") != std::string::npos) return text;
            Sleep(20);
        }
        return "";
    }

    const std::string testLibrary_ = TestMailLibrary();
    TestMailResetProc reset_ = nullptr;
    TestMailLastRecordProc last_ = nullptr;
    ScopedRegString declared_{HKEY_LOCAL_MACHINE, kMessagingKey, "MAPI", "1"};
    std::string mailtoLog_ = MakeTempDir("mapi") + "mailto.log";
    ScopedEnv logEnv_{"CORVANTIS_MAILTO_LOG", mailtoLog_};
};

std::unique_ptr<TQVApplication> SupportRecord() {
    auto record = std::make_unique<TQVApplication>();
    record->Title = "Quorvandel Corvantis";
    record->Version = "1.4.0 Build 32";
    record->WebAddresses->SupportEmail = "support@quorvandel.example";
    return record;
}

TEST_F(Mapi, AnEmptyMessageHasNoRecipientsAndNoFiles) {
    TQVMapi mapi;
    mapi.Subject = "Hello";
    mapi.Body = "Text";
    mapi.Send();
    const TestMailRecord& r = Last();
    ASSERT_EQ(r.calls, 1u);
    EXPECT_EQ(r.session, 0u);
    EXPECT_EQ(r.flags, 0u);
    EXPECT_EQ(r.reserved, 0u);
    EXPECT_EQ(r.uiParam, reinterpret_cast<ULONG_PTR>(ui::Application.Handle()));
    EXPECT_STREQ(r.subject, "Hello");
    EXPECT_STREQ(r.noteText, "Text");
    EXPECT_EQ(r.messageReserved, 0u);
    EXPECT_TRUE(r.messageTypeNull && r.dateReceivedNull && r.conversationIdNull);
    EXPECT_EQ(r.messageFlags, 0u);
    EXPECT_EQ(r.recipCount, 0u);
    EXPECT_TRUE(r.recipsNull);
    EXPECT_EQ(r.fileCount, 0u);
    EXPECT_TRUE(r.filesNull);
    // The originator is passed with empty texts, not null ones.
    ASSERT_FALSE(r.originatorNull);
    EXPECT_EQ(r.originator.recipClass, static_cast<ULONG>(MAPI_ORIG));
    EXPECT_STREQ(r.originator.name, "");
    EXPECT_STREQ(r.originator.address, "");
}

TEST_F(Mapi, RecipientsComeInClassOrderWithSmtpAddresses) {
    TQVMapi mapi;
    mapi.Recipients = {"a@x.example", "b@x.example"};
    mapi.BlindCopyTo = {"d@x.example"};
    mapi.CopyTo = {"c@x.example"};
    mapi.FromName = "Sender";
    mapi.FromAdress = "SMTP:me@x.example";
    mapi.ShowDialog = true;
    mapi.Send();
    const TestMailRecord& r = Last();
    EXPECT_EQ(r.flags, static_cast<ULONG>(MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_DIALOG));
    EXPECT_EQ(r.flags, 0x0Bu);
    ASSERT_EQ(r.recipCount, 4u);
    struct {
        ULONG recipClass;
        const char* name;
    } expected[] = {{MAPI_TO, "a@x.example"}, {MAPI_TO, "b@x.example"}, {MAPI_CC, "c@x.example"},
                    {MAPI_BCC, "d@x.example"}};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r.recips[i].recipClass, expected[i].recipClass);
        EXPECT_EQ(r.recips[i].reserved, 0u);
        EXPECT_STREQ(r.recips[i].name, expected[i].name);
        EXPECT_EQ(std::string(r.recips[i].address), std::string("SMTP:") + expected[i].name);
        EXPECT_EQ(r.recips[i].entryIdSize, 0u);
        EXPECT_TRUE(r.recips[i].entryIdNull);
    }
    EXPECT_STREQ(r.originator.name, "Sender");
    EXPECT_STREQ(r.originator.address, "SMTP:me@x.example");
}

TEST_F(Mapi, AttachmentsAreShownUnderTheirFileNames) {
    TQVMapi mapi;
    mapi.DisplayFileName = {"stale"};
    mapi.AttachedFiles = {"C:\\Logs\\run 1.log", "D:report.txt", "plain.kvx"};
    mapi.Send();
    std::vector<std::string> names = {"run 1.log", "report.txt", "plain.kvx"};
    EXPECT_EQ(mapi.DisplayFileName, names);
    const TestMailRecord& r = Last();
    ASSERT_EQ(r.fileCount, 3u);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r.files[i].reserved, 0u);
        EXPECT_EQ(r.files[i].flags, 0u);
        EXPECT_EQ(r.files[i].position, 0xFFFFFFFFu);
        EXPECT_EQ(r.files[i].pathName, mapi.AttachedFiles[i]);
        EXPECT_EQ(r.files[i].fileName, names[i]);
        EXPECT_TRUE(r.files[i].fileTypeNull);
    }
}

TEST_F(Mapi, EachResultFiresItsEvent) {
    struct Case {
        ULONG result;
        const char* declared;  // the "MAPI" value; null: absent
        const char* fired;
        int code;
        bool reached;
        ULONG calls;
    } cases[] = {
        {SUCCESS_SUCCESS, "1", "success", 0, true, 1},
        {MAPI_USER_ABORT, "1", "abort", 0, true, 1},
        {MAPI_E_FAILURE, "1", "error", 2, true, 1},
        {MAPI_E_UNKNOWN_RECIPIENT, "1", "error", 14, true, 1},
        {SUCCESS_SUCCESS, "0", "abort", 0, false, 0},
        {SUCCESS_SUCCESS, nullptr, "abort", 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.result << " " << (c.declared ? c.declared : "absent"));
        ScopedRegString declared(HKEY_LOCAL_MACHINE, kMessagingKey, "MAPI", c.declared);
        reset_(c.result);
        std::string fired;
        int code = -1;
        TQVMapi mapi;
        mapi.OnSuccess = [&](TQVMapi& sender) { fired += "success"; EXPECT_EQ(&sender, &mapi); };
        mapi.OnUserAbort = [&](TQVMapi&) { fired += "abort"; };
        mapi.OnMapiError = [&](TQVMapi&, int errCode) { fired += "error"; code = errCode; };
        mapi.Send();
        EXPECT_EQ(fired, c.fired);
        if (c.code) {
            EXPECT_EQ(code, c.code);
        }
        EXPECT_EQ(mapi.MailSystemReached(), c.reached);
        EXPECT_EQ(Last().calls, c.calls);
        // Events that are not assigned are skipped.
        TQVMapi bare;
        EXPECT_NO_THROW(bare.Send());
    }
}

TEST_F(Mapi, TheOwnerIsTheParentAndIsDisabledDuringTheCall) {
    OwnerWindow owner;
    TQVMapi mapi(owner.hwnd);
    mapi.Send();
    EXPECT_EQ(Last().uiParam, reinterpret_cast<ULONG_PTR>(owner.hwnd));
    EXPECT_FALSE(Last().ownerEnabledDuringCall);
    EXPECT_TRUE(IsWindowEnabled(owner.hwnd));
    // An owner that was disabled already stays disabled.
    EnableWindow(owner.hwnd, FALSE);
    mapi.Send();
    EXPECT_FALSE(IsWindowEnabled(owner.hwnd));
}

// The library is bound again when the seam names another one; a library
// that cannot be loaded is no mail system.
TEST_F(Mapi, TheLibrarySetIsTheOneCalled) {
    const std::string missing = MakeTempDir("mapi-missing") + "MAPI32.DLL";
    const struct {
        std::string library;
        bool reached;
        ULONG calls;
    } cases[] = {{testLibrary_, true, 1}, {missing, false, 0}, {testLibrary_, true, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.library);
        qv::SetMailLibraryPath(c.library);
        reset_(SUCCESS_SUCCESS);
        std::string fired;
        TQVMapi mapi;
        mapi.OnSuccess = [&](TQVMapi&) { fired += "success"; };
        mapi.OnUserAbort = [&](TQVMapi&) { fired += "abort"; };
        mapi.Send();
        EXPECT_EQ(mapi.MailSystemReached(), c.reached);
        EXPECT_EQ(fired, c.reached ? "success" : "abort");
        EXPECT_EQ(Last().calls, c.calls);
    }
}

// The program's texts are UTF-8. A library with MAPISendMailW gets them
// whole; one with only MAPISendMail gets them in the legacy code page
// (1252 in the prefix), a character it lacks shown as '?'.
TEST_F(Mapi, WideAndAnsiLibrariesEachGetTheTexts) {
    const std::string ansiLibrary = TestDataDir() + "TestMailAnsi.dll";
    HMODULE ansi = LoadLibraryA(ansiLibrary.c_str());
    ASSERT_NE(ansi, nullptr);
    ASSERT_EQ(GetProcAddress(ansi, "MAPISendMailW"), nullptr);
    const struct {
        std::string library;
        HMODULE module;
        BOOL wide;
        const char* subject;
        const char* body;
        const char* name;
        const char* address;
        const char* from;
        const char* path;
        const char* file;
    } cases[] = {
        {testLibrary_, GetModuleHandleA(testLibrary_.c_str()), TRUE, "Gr\xC3\xBC\xC3\x9F" "e \xCE\x95\xCE\xBB",
         "Caf\xC3\xA9 \xE6\x97\xA5", "j\xC3\xB6rg@x.example", "SMTP:j\xC3\xB6rg@x.example", "Zo\xC3\xAB",
         "C:\\Logs\\\xD0\x9C\xD0\xB8\xD1\x80.log", "\xD0\x9C\xD0\xB8\xD1\x80.log"},
        {ansiLibrary, ansi, FALSE, "Gr\xFC\xDF" "e ??", "Caf\xE9 ?", "j\xF6rg@x.example", "SMTP:j\xF6rg@x.example",
         "Zo\xEB", "C:\\Logs\\???.log", "???.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.library);
        auto reset = reinterpret_cast<TestMailResetProc>(
            reinterpret_cast<void*>(GetProcAddress(c.module, "TestMailReset")));
        auto last = reinterpret_cast<TestMailLastRecordProc>(
            reinterpret_cast<void*>(GetProcAddress(c.module, "TestMailLastRecord")));
        ASSERT_TRUE(reset && last);
        reset(SUCCESS_SUCCESS);
        qv::SetMailLibraryPath(c.library);
        TQVMapi mapi;
        mapi.Subject = "Gr\xC3\xBC\xC3\x9F" "e \xCE\x95\xCE\xBB";
        mapi.Body = "Caf\xC3\xA9 \xE6\x97\xA5";
        mapi.Recipients = {"j\xC3\xB6rg@x.example"};
        mapi.FromName = "Zo\xC3\xAB";
        mapi.AttachedFiles = {"C:\\Logs\\\xD0\x9C\xD0\xB8\xD1\x80.log"};
        mapi.Send();
        const TestMailRecord& r = *last();
        ASSERT_EQ(r.calls, 1u);
        EXPECT_EQ(r.wide, c.wide);
        EXPECT_STREQ(r.subject, c.subject);
        EXPECT_STREQ(r.noteText, c.body);
        ASSERT_EQ(r.recipCount, 1u);
        EXPECT_STREQ(r.recips[0].name, c.name);
        EXPECT_STREQ(r.recips[0].address, c.address);
        EXPECT_STREQ(r.originator.name, c.from);
        ASSERT_EQ(r.fileCount, 1u);
        EXPECT_STREQ(r.files[0].pathName, c.path);
        EXPECT_STREQ(r.files[0].fileName, c.file);
    }
}

TEST_F(Mapi, MailSystemDeclaredOnlyByExactlyOne) {
    struct {
        const char* value;
        bool declared;
    } cases[] = {{"1", true}, {"0", false}, {"01", false}, {"1 ", false}, {"", false}, {nullptr, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "absent");
        ScopedRegString declared(HKEY_LOCAL_MACHINE, kMessagingKey, "MAPI", c.value);
        EXPECT_EQ(qv::MailSystemDeclared(), c.declared);
    }
}

TEST(MapiText, MailtoAddressAndAttachmentName) {
    EXPECT_EQ(qv::MailtoAddress("support@q.example", "Quorvandel Corvantis 1.4.0 Build 32"),
              "mailto:support@q.example?subject=Quorvandel%20Corvantis%201.4.0%20Build%2032");
    EXPECT_EQ(qv::MailtoAddress("a@b", "x&y=z?#%\xE9"), "mailto:a@b?subject=x%26y%3Dz%3F%23%25%E9");
    EXPECT_EQ(qv::MailtoAddress("a@b", ""), "mailto:a@b?subject=");
    EXPECT_EQ(qv::AttachmentName("C:\\a\\b.txt"), "b.txt");
    EXPECT_EQ(qv::AttachmentName("C:b.txt"), "b.txt");
    EXPECT_EQ(qv::AttachmentName("b.txt"), "b.txt");
    EXPECT_EQ(qv::AttachmentName("C:\\a\\"), "");
}

const char kSupportMailto[] =
    "mailto:support@quorvandel.example?subject=Quorvandel%20Corvantis%201.4.0%20Build%2032";

TEST_F(Mapi, SupportEmailOpensTheComposeWindowOwnedByTheMainWindow) {
    auto record = SupportRecord();
    auto handler = MailtoHandler(MissingCommand());
    OwnerWindow owner;
    SendSupportEmail(owner.hwnd, *record);
    const TestMailRecord& r = Last();
    ASSERT_EQ(r.calls, 1u);
    EXPECT_EQ(r.flags, 0x0Bu);
    EXPECT_EQ(r.uiParam, reinterpret_cast<ULONG_PTR>(owner.hwnd));
    EXPECT_FALSE(r.ownerEnabledDuringCall);
    EXPECT_TRUE(IsWindowEnabled(owner.hwnd));
    EXPECT_STREQ(r.subject, "Quorvandel Corvantis 1.4.0 Build 32");
    EXPECT_STREQ(r.noteText, " ");
    ASSERT_EQ(r.recipCount, 1u);
    EXPECT_EQ(r.recips[0].recipClass, static_cast<ULONG>(MAPI_TO));
    EXPECT_STREQ(r.recips[0].name, "support@quorvandel.example");
    EXPECT_STREQ(r.recips[0].address, "SMTP:support@quorvandel.example");
    EXPECT_EQ(r.fileCount, 0u);
}

TEST_F(Mapi, SupportEmailFallsBackToMailtoOnlyWhenMapiCannotTakeIt) {
    struct {
        const char* declared;
        ULONG result;
        bool mailto;
    } cases[] = {
        {"1", MAPI_USER_ABORT, false},     // the user's own cancel is silent
        {"1", MAPI_E_FAILURE, true},       // the mail system refuses
        {"1", MAPI_E_LOGIN_FAILURE, true},
        {"0", SUCCESS_SUCCESS, true},      // no mail system declared
        {nullptr, SUCCESS_SUCCESS, true},
    };
    auto record = SupportRecord();
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.declared ? c.declared : "absent") << " " << c.result);
        ScopedRegString declared(HKEY_LOCAL_MACHINE, kMessagingKey, "MAPI", c.declared);
        auto handler = MailtoHandler(c.mailto ? RecorderCommand() : MissingCommand());
        reset_(c.result);
        DeleteFileA(mailtoLog_.c_str());
        OwnerWindow owner;
        EXPECT_NO_THROW(SendSupportEmail(owner.hwnd, *record));
        EXPECT_EQ(Last().calls, c.declared && *c.declared == '1' ? 1u : 0u);
        EXPECT_TRUE(IsWindowEnabled(owner.hwnd));
        if (c.mailto) {
            std::string line = WaitForMailto();
            EXPECT_NE(line.find(std::string("\"") + kSupportMailto + "\""), std::string::npos) << line;
        }
    }
}

TEST_F(Mapi, WithoutAnyMailProgramTheMessageNamesTheSupportAddress) {
    struct {
        const char* declared;
        ULONG result;
        const char* reason;
    } cases[] = {
        {"0", SUCCESS_SUCCESS, "No Simple MAPI mail system is declared."},
        {"1", MAPI_E_FAILURE, "The Simple MAPI mail system returned error 2."},
    };
    auto record = SupportRecord();
    auto handler = MailtoHandler(MissingCommand());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        ScopedRegString declared(HKEY_LOCAL_MACHINE, kMessagingKey, "MAPI", c.declared);
        reset_(c.result);
        OwnerWindow owner;
        try {
            SendSupportEmail(owner.hwnd, *record);
            ADD_FAILURE() << "no error raised";
        } catch (const EQVException& e) {
            EXPECT_STREQ(e.what(), "No mail program could be opened. Please write to support@quorvandel.example.");
            EXPECT_EQ(e.Kind, qekError);
            EXPECT_EQ(e.Details.rfind(std::string(c.reason) + "\r\nThe shell could not open '" + kSupportMailto +
                                          "' (error ",
                                      0),
                      0u)
                << e.Details;
        }
        EXPECT_TRUE(IsWindowEnabled(owner.hwnd));
    }
}

// Once hardened, the program's library search leaves out the current
// folder: a library found there by name before is not found after, while a
// full path still loads. (The process stays hardened for the tests after.)
TEST(LibrarySearch, HardenedSearchSkipsTheCurrentFolder) {
    const std::string folder = MakeTempDir("planted-library");
    ASSERT_TRUE(CopyTo(TestDataDir() + "dep\\DepHelper.dll", folder + "PlantedOnly.dll"));
    ScopedCurrentDir current(folder);
    HMODULE before = LoadLibraryA("PlantedOnly.dll");
    ASSERT_NE(before, nullptr) << "the current folder is not searched even before hardening";
    FreeLibrary(before);
    ASSERT_EQ(GetModuleHandleA("PlantedOnly.dll"), nullptr);

    qv::HardenDllSearch();
    SetLastError(0);
    HMODULE after = LoadLibraryA("PlantedOnly.dll");
    EXPECT_EQ(after, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    if (after) FreeLibrary(after);
    HMODULE byPath = LoadLibraryA((folder + "PlantedOnly.dll").c_str());
    EXPECT_NE(byPath, nullptr);
    if (byPath) FreeLibrary(byPath);
}

}  // namespace
