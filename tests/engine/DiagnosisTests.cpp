// The reason given for each kind of failure, over real files: the first
// line stays the fixed message, the details say why, in the program's
// language; a success has no details.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestServerIds.h"
#include "engine/uHelper64.h"
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
};

const TDiagnosisCase kCases[] = {
    {"lonely\\DepServer.dll", true, qlEnglish, "Failed to load library 'DepServer.dll'.",
     {"because a library it needs was not found: DepHelper.dll (needed by DepServer.dll).",
      "Searched in the library's own folder", "System error 126 (0x0000007E)"}},
    {"DotNetLike.dll", true, qlEnglish, "DllRegisterServer procedure not found in 'DotNetLike.dll'.",
     {"is a .NET assembly", "RegAsm.exe /codebase"}},
    {"NotALibrary.dll", true, qlEnglish, "Failed to load library 'NotALibrary.dll'.",
     {"'NotALibrary.dll' is not a Windows program file", "\"MZ\""}},
    {"x64\\Arm64Server.dll", true, qlEnglish, "Failed to load library 'Arm64Server.dll'.",
     {"is built for ARM64 processors", "can load x86 and x64 libraries only"}},
    {"SelfRegClassServer.dll", true, qlEnglish, "Call to 'DllRegisterServer' failed in 'SelfRegClassServer.dll'.",
     {"DllRegisterServer returned 0x80040201 (SELFREG_E_CLASS).", "could not register one or more of its classes"}},
    {"AccessDeniedServer.dll", false, qlEnglish, "Call to 'DllUnregisterServer' failed in 'AccessDeniedServer.dll'.",
     {"returned 0x80070005 (E_ACCESSDENIED)", "Run Corvantis as administrator."}},
    {"AccessDeniedServer.dll", true, qlPortuguese, "Call to 'DllRegisterServer' failed in 'AccessDeniedServer.dll'.",
     {"DllRegisterServer devolveu 0x80070005 (E_ACCESSDENIED).", "Execute o Corvantis como administrador."}},
    {"SFalseServer.dll", true, qlEnglish, "Call to 'DllRegisterServer' failed in 'SFalseServer.dll'.",
     {"returned 0x00000001 (S_FALSE).", "only S_OK (0) counts as success"}},
    {"ExeServerFail.exe", true, qlEnglish, "'ExeServerFail.exe /regserver' failed.",
     {"'ExeServerFail.exe' ended with exit code 3 (0x00000003)."}},
    {"ExeServerDenied.exe", true, qlEnglish, "'ExeServerDenied.exe /regserver' failed.",
     {"Read as an HRESULT, the exit code is 0x80070005 (E_ACCESSDENIED).", "administrator"}},
    {"TypeLibOnly.dll", true, qlEnglish, "DllRegisterServer procedure not found in 'TypeLibOnly.dll'.",
     {"is a type library container"}},
    {"NoUnregServer.dll", false, qlEnglish, "DllUnregisterServer procedure not found in 'NoUnregServer.dll'.",
     {"exports DllRegisterServer but not DllUnregisterServer.", "DLL, exports DllRegisterServer, imports"}},
    {"FaultServer.dll", true, qlPortuguese, "Call to 'DllRegisterServer' failed in 'FaultServer.dll'.",
     {"provocou a exce\xE7\xE3o 0xC0000005 (viola\xE7\xE3o de acesso)", "(FaultServer.dll+0x"}},
    {"Missing.dll", true, qlEnglish, "Library '<data>Missing.dll' not found.", {"does not exist."}},
    // The same reasons come back from the 64-bit helper.
    {"x64\\SelfRegClassServer.dll", true, qlEnglish,
     "Call to 'DllRegisterServer' failed in 'SelfRegClassServer.dll'.", {"0x80040201 (SELFREG_E_CLASS)"}},
    {"x64\\lonely\\DepServer.dll", true, qlPortuguese, "Failed to load library 'DepServer.dll'.",
     {"DepHelper.dll (necess\xE1ria para DepServer.dll)"}},
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
        context.foreign = engine::HelperRunner(c.language, nullptr);
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
