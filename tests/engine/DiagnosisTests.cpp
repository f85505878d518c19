// The reason given for each kind of failure, over real files: the first
// line stays the fixed message, the details say why, in the program's
// language; a success has no details.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestServerIds.h"
#include "engine/uHelper.h"
#include "engine/uPeFile.h"
#include "engine/uReasons.h"
#include "engine/uRegCore.h"
#include "support/TestEnv.h"

using namespace testenv;

namespace {

struct TDiagnosisCase {
    const char* file;  // relative to the test data folder
    bool register_;
    QVLanguage language;
    const char* message;  // empty: success
    std::vector<const char*> reasons;  // each must appear in the details
    bool perUser = false;  // registered for the current user alone
};

const TDiagnosisCase kCases[] = {
    {"lonely\\DepServer.dll", true, qlEnglish, "Failed to load library 'DepServer.dll'.",
     {"because a library it needs was not found: DepHelper.dll (needed by DepServer.dll).",
      "Searched in the library's own folder, the system folder, the 16-bit system folder, the Windows folder and "
      "the folders of PATH.",
      "System error 126 (0x0000007E)"}},
    {"DotNetLike.dll", true, qlEnglish, "DllRegisterServer procedure not found in 'DotNetLike.dll'.",
     {"is a .NET assembly", "RegAsm.exe /codebase"}},
    {"NotALibrary.dll", true, qlEnglish, "Failed to load library 'NotALibrary.dll'.",
     {"'NotALibrary.dll' is not a Windows program file", "\"MZ\""}},
    {"x64\\Arm64Server.dll", true, qlEnglish, "Failed to load library 'Arm64Server.dll'.",
     {"is built for ARM64 processors", "can load x86 and x64 libraries only"}},
    {"SelfRegClassServer.dll", true, qlEnglish, "Call to 'DllRegisterServer' failed in 'SelfRegClassServer.dll'.",
     {"DllRegisterServer returned 0x80040201 (SELFREG_E_CLASS).", "could not register one or more of its classes"}},
    {"AccessDeniedServer.dll", false, qlEnglish, "Call to 'DllUnregisterServer' failed in 'AccessDeniedServer.dll'.",
     {"returned 0x80070005 (E_ACCESSDENIED)",
      "Run Corvantis as administrator, or register the server for the current user alone with CorvantisCmd "
      "--per-user."}},
    {"AccessDeniedServer.dll", true, qlPortuguese, "Call to 'DllRegisterServer' failed in 'AccessDeniedServer.dll'.",
     {"DllRegisterServer devolveu 0x80070005 (E_ACCESSDENIED).",
      "Execute o Corvantis como administrador, ou registre o servidor s\u00F3 para o usu\u00E1rio atual com "
      "CorvantisCmd --per-user."}},
    // For the current user alone, the advice is no longer --per-user.
    {"AccessDeniedServer.dll", true, qlEnglish, "Call to 'DllRegisterServer' failed in 'AccessDeniedServer.dll'.",
     {"returned 0x80070005 (E_ACCESSDENIED)", "although the server was registered for the current user alone",
      "Run Corvantis as administrator."},
     true},
    {"x64\\AccessDeniedServer.dll", false, qlPortuguese,
     "Call to 'DllUnregisterServer' failed in 'AccessDeniedServer.dll'.",
     {"embora o servidor fosse registrado s\u00F3 para o usu\u00E1rio atual"}, true},
    {"ExeServerDenied.exe", true, qlEnglish, "'ExeServerDenied.exe /RegServerPerUser' failed.",
     {"0x80070005 (E_ACCESSDENIED)", "although the server was registered for the current user alone"}, true},
    {"SFalseServer.dll", true, qlEnglish, "Call to 'DllRegisterServer' failed in 'SFalseServer.dll'.",
     {"returned 0x00000001 (S_FALSE).", "only S_OK (0) counts as success"}},
    {"ExeServerFail.exe", true, qlEnglish, "'ExeServerFail.exe /regserver' failed.",
     {"'ExeServerFail.exe' ended with exit code 3 (0x00000003)."}},
    {"ExeServerDenied.exe", true, qlEnglish, "'ExeServerDenied.exe /regserver' failed.",
     {"Read as an HRESULT, the exit code is 0x80070005 (E_ACCESSDENIED).", "administrator, or register the server "
      "for the current user alone with CorvantisCmd --per-user."}},
    {"TypeLibOnly.dll", true, qlEnglish, "DllRegisterServer procedure not found in 'TypeLibOnly.dll'.",
     {"is a type library container"}},
    {"NoUnregServer.dll", false, qlEnglish, "DllUnregisterServer procedure not found in 'NoUnregServer.dll'.",
     {"exports DllRegisterServer but not DllUnregisterServer.", "DLL, exports DllRegisterServer, imports"}},
    {"FaultServer.dll", true, qlPortuguese, "Call to 'DllRegisterServer' failed in 'FaultServer.dll'.",
     {"provocou a exce\u00E7\u00E3o 0xC0000005 (viola\u00E7\u00E3o de acesso)", "(FaultServer.dll+0x"}},
    {"Missing.dll", true, qlEnglish, "Library '<data>Missing.dll' not found.", {"does not exist."}},
    // The same reasons come back from the 64-bit helper.
    {"x64\\SelfRegClassServer.dll", true, qlEnglish,
     "Call to 'DllRegisterServer' failed in 'SelfRegClassServer.dll'.", {"0x80040201 (SELFREG_E_CLASS)"}},
    {"x64\\lonely\\DepServer.dll", true, qlPortuguese, "Failed to load library 'DepServer.dll'.",
     {"DepHelper.dll (necess\u00E1ria para DepServer.dll)",
      "Procurado na pasta da pr\u00F3pria biblioteca, na pasta do sistema, na pasta do sistema de 16 bits, na pasta "
      "do Windows e nas pastas do PATH."}},
    {"x64\\FaultServer.dll", false, qlEnglish, "Call to 'DllUnregisterServer' failed in 'FaultServer.dll'.",
     {"0xC0000094 (integer division by zero)", "(FaultServer.dll+0x"}},
    {"OkServer.dll", true, qlPortuguese, "", {}},
    {"x64\\OkServer.dll", false, qlEnglish, "", {}},
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

}  // namespace

TEST(Diagnosis, EveryKindOfFailureSaysWhy) {
    if (sizeof(void*) == 8) GTEST_SKIP() << "the rows are seen from the 32-bit program";
    // One helper for all the 64-bit rows, as in a task run.
    engine::THelperSession session;
    for (const TDiagnosisCase& c : kCases) {
        SCOPED_TRACE(c.file);
        engine::TRegContext context;
        context.language = c.language;
        context.perUser = c.perUser;
        engine::UseHelpers(context);
        engine::TRegOutcome outcome = engine::RegisterFileCore(TestDataDir() + c.file, c.register_, context);
        if (*c.message == '\0') {
            EXPECT_TRUE(outcome.success) << outcome.message << "\n" << outcome.details;
            EXPECT_EQ(outcome.details, "");
            continue;
        }
        EXPECT_FALSE(outcome.success);
        EXPECT_EQ(outcome.message, Replace(c.message, "<data>", TestDataDir()));
        for (const char* reason : c.reasons) {
            EXPECT_NE(outcome.details.find(reason), std::string::npos)
                << "missing \"" << reason << "\" in:\n" << outcome.details;
        }
        EXPECT_GT(outcome.ms, 0.0);
    }
    DeleteTree(HKEY_LOCAL_MACHINE, TestServers::kNoUnregKey);
}

namespace {

// PATH set for the life of the object; the earlier value comes back.
class ScopedPath {
public:
    explicit ScopedPath(const std::string& value) {
        char buffer[32768];
        DWORD length = GetEnvironmentVariableA("PATH", buffer, sizeof buffer);
        had_ = length > 0 && length < sizeof buffer;
        if (had_) old_.assign(buffer, length);
        SetEnvironmentVariableA("PATH", value.c_str());
    }
    ~ScopedPath() { SetEnvironmentVariableA("PATH", had_ ? old_.c_str() : nullptr); }
    ScopedPath(const ScopedPath&) = delete;
    ScopedPath& operator=(const ScopedPath&) = delete;

private:
    std::string old_;
    bool had_ = false;
};

}  // namespace

// The walk looks for a library's imports where a helper's loader does: the
// library's own folder, the system folders, the Windows folder and PATH,
// never the current folder; a PATH folder that cannot be reached does not
// hide the folders after it.
TEST(Diagnosis, DependencyWalkSearchesLikeTheHelpersLoader) {
    ASSERT_FALSE(ModuleLoaded("DepHelper.dll")) << "a loaded DepHelper.dll counts as found";
    const std::string data = TestDataDir();
    const std::string helperFolder = data + "dep";  // holds DepHelper.dll
    struct TCase {
        const char* name;
        std::string library;
        std::string current;
        std::string path;
        const char* missing;  // the names the walk reports missing, comma-separated
    } cases[] = {
        {"beside the library", data + "dep\\DepServer.dll", data, "", ""},
        {"only in the current folder", data + "lonely\\DepServer.dll", helperFolder, "", "DepHelper.dll"},
        {"in a folder of PATH", data + "lonely\\DepServer.dll", data, helperFolder + "\\", ""},
        {"after an unreachable PATH folder", data + "lonely\\DepServer.dll", data,
         "\\\\corvantis-no-such-host\\share;Q:\\no-such-folder;" + helperFolder, ""},
        {"in no folder searched", data + "lonely\\DepServer.dll", data, data + "lonely", "DepHelper.dll"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedCurrentDir current(c.current);
        ScopedPath path(c.path);
        const engine::pe::TPeInfo info = engine::pe::ReadPeFile(c.library);
        ASSERT_TRUE(info.isPe) << info.problem;
        std::string missing;
        for (const engine::TDependencyProblem& problem : engine::FindDependencyProblems(c.library, info)) {
            EXPECT_EQ(problem.foundAt, "");
            EXPECT_EQ(problem.neededBy, "DepServer.dll");
            missing += (missing.empty() ? "" : ",") + problem.name;
        }
        EXPECT_EQ(missing, c.missing);
    }
}

// Access denied, however it comes back, advises running as administrator or
// registering for the current user alone; registered for the current user,
// only the administrator. Codes that say nothing of rights by themselves (a
// server's SELFREG_E_CLASS, an exit code of 5) advise so only when the
// process may not write the machine's classes. (Wine grants every right,
// so the rights are given here; the probe itself is checked below.)
TEST(Diagnosis, AccessDeniedAdvisesAnAdministratorOrThePerUserOption) {
    const char* const perUserAdvice = "or register the server for the current user alone with CorvantisCmd --per-user.";
    const char* const typeLibAdvice = "or register it for the current user alone with CorvantisCmd --per-user.";
    const char* const userAlone = "although the server was registered for the current user alone";
    const char* const likelyCause = "HKEY_LOCAL_MACHINE\\Software\\Classes, which is the likely cause.";
    const struct {
        bool exitCode;  // read as an executable server's exit code, else as a returned HRESULT
        DWORD value;
        bool perUser, machineWritable;
        QVLanguage language;
        std::vector<const char*> present;
        std::vector<const char*> absent;
    } rows[] = {
        {false, 0x80070005, false, true, qlEnglish, {"(E_ACCESSDENIED)", perUserAdvice}, {userAlone, likelyCause}},
        {false, 0x80070005, true, true, qlEnglish, {userAlone, "Run Corvantis as administrator."}, {perUserAdvice}},
        {false, 0x8002801C, false, true, qlEnglish, {"(TYPE_E_REGISTRYACCESS)", typeLibAdvice}, {}},
        {false, 0x8002801C, true, true, qlEnglish, {"current user's classes (HKEY_CURRENT_USER\\Software\\Classes)"},
         {typeLibAdvice}},
        {false, 0x80040201, false, false, qlEnglish, {"(SELFREG_E_CLASS)", likelyCause, perUserAdvice}, {}},
        {false, 0x80040200, false, false, qlPortuguese,
         {"(SELFREG_E_TYPELIB)", "o que \u00E9 a causa prov\u00E1vel", "CorvantisCmd --per-user."}, {}},
        {false, 0x80040201, false, true, qlEnglish, {"(SELFREG_E_CLASS)"}, {likelyCause, perUserAdvice}},
        {false, 0x80040201, true, false, qlEnglish, {"(SELFREG_E_CLASS)"}, {likelyCause, perUserAdvice}},
        {false, 0x80004005, false, false, qlEnglish, {"(E_FAIL)"}, {likelyCause, perUserAdvice}},
        {true, 0x80070005, false, true, qlEnglish, {"(E_ACCESSDENIED)", perUserAdvice}, {}},
        {true, 0x80070005, true, true, qlPortuguese, {"embora o servidor fosse registrado"}, {"--per-user"}},
        {true, ERROR_ACCESS_DENIED, false, false, qlEnglish, {"exit code 5 (0x00000005)", likelyCause, perUserAdvice},
         {}},
        {true, ERROR_ACCESS_DENIED, false, true, qlEnglish, {"exit code 5 (0x00000005)"}, {likelyCause}},
        {true, ERROR_ACCESS_DENIED, true, false, qlEnglish, {"exit code 5 (0x00000005)"}, {likelyCause}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.value) + (row.exitCode ? " exit" : " result") +
                     (row.perUser ? " per-user" : "") + (row.machineWritable ? " writable" : ""));
        const std::string details =
            row.exitCode
                ? engine::ExitCodeReason("S.exe", row.value, row.language, row.perUser, row.machineWritable)
                : engine::ResultReason("DllRegisterServer", static_cast<HRESULT>(row.value), row.language, row.perUser,
                                       row.machineWritable);
        for (const char* text : row.present) EXPECT_NE(details.find(text), std::string::npos) << text << "\n" << details;
        for (const char* text : row.absent) EXPECT_EQ(details.find(text), std::string::npos) << text << "\n" << details;
    }
    // Wine runs every program with every right: the machine's classes are
    // writable, so a server's SELFREG_E_CLASS carries no advice.
    EXPECT_TRUE(engine::MachineClassesWritable());
    EXPECT_EQ(engine::ResultReason("DllRegisterServer", static_cast<HRESULT>(0x80040201L), qlEnglish).find(likelyCause),
              std::string::npos);
}
