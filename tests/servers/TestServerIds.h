// Identifiers shared by the test COM servers and the tests that drive them.
//
// The servers in this folder are built for the test suite only. Every GUID,
// registry path and file name the tests need to know lives here, and the
// server sources include this header too, so both sides always agree.
// TestLib.idl cannot include a C++ header; CMakeLists.txt checks at configure
// time that the library and interface ids written there match the ones below.
#pragma once

#include <windows.h>

// Declares a narrow string constant NAME and its wide twin NAME##W from one
// literal, so the two spellings cannot drift apart.
#define CORVANTIS_TEST_STRING(name, text)            \
    inline constexpr char name[] = text;             \
    inline constexpr wchar_t name##W[] = L"" text;

namespace TestServers {

// ---------------------------------------------------------------------------
// OkServer.dll: a working in-process server with a single class.
// ---------------------------------------------------------------------------

// {9EE2073F-F6EF-48CF-A9C7-38C2FFA1F91E}
inline constexpr CLSID kOkServerClsid = {
    0x9ee2073f, 0xf6ef, 0x48cf, {0xa9, 0xc7, 0x38, 0xc2, 0xff, 0xa1, 0xf9, 0x1e}};
CORVANTIS_TEST_STRING(kOkServerClsidString, "{9EE2073F-F6EF-48CF-A9C7-38C2FFA1F91E}")
// Key written below HKEY_CLASSES_ROOT by DllRegisterServer.
CORVANTIS_TEST_STRING(kOkServerClsidKey, "CLSID\\{9EE2073F-F6EF-48CF-A9C7-38C2FFA1F91E}")
CORVANTIS_TEST_STRING(kOkServerInprocKey,
                      "CLSID\\{9EE2073F-F6EF-48CF-A9C7-38C2FFA1F91E}\\InprocServer32")
// Default value of the CLSID key.
CORVANTIS_TEST_STRING(kOkServerDescription, "Corvantis Test Object")
// "ThreadingModel" value of the InprocServer32 key.
CORVANTIS_TEST_STRING(kOkServerThreadingModelValue, "ThreadingModel")
CORVANTIS_TEST_STRING(kOkServerThreadingModel, "Apartment")

// ---------------------------------------------------------------------------
// TestLib.tlb: a type library compiled from TestLib.idl.
// ---------------------------------------------------------------------------

// {E03C1807-4EB3-4450-866A-B20EEA5CBAD7}
inline constexpr GUID kTestLibLibid = {
    0xe03c1807, 0x4eb3, 0x4450, {0x86, 0x6a, 0xb2, 0x0e, 0xea, 0x5c, 0xba, 0xd7}};
CORVANTIS_TEST_STRING(kTestLibLibidString, "{E03C1807-4EB3-4450-866A-B20EEA5CBAD7}")
inline constexpr WORD kTestLibMajorVersion = 1;
inline constexpr WORD kTestLibMinorVersion = 0;
// Version as it appears as a key name under HKCR\TypeLib\{libid}.
CORVANTIS_TEST_STRING(kTestLibVersionString, "1.0")
CORVANTIS_TEST_STRING(kTestLibName, "CorvantisTestLib")
CORVANTIS_TEST_STRING(kTestLibHelpString, "Corvantis test type library")

// The library's only interface (dual, derived from IDispatch).
// {E5491C29-E684-497D-8A30-889E0C4E063A}
inline constexpr IID kTestLibInterfaceIid = {
    0xe5491c29, 0xe684, 0x497d, {0x8a, 0x30, 0x88, 0x9e, 0x0c, 0x4e, 0x06, 0x3a}};
CORVANTIS_TEST_STRING(kTestLibInterfaceIidString, "{E5491C29-E684-497D-8A30-889E0C4E063A}")
CORVANTIS_TEST_STRING(kTestLibInterfaceName, "ICorvantisTest")

// TestLibShared.tlb (from TestLibShared.idl): declares the interface above
// again in a library of its own id and version. Registered after
// TestLib.tlb, it names itself in the interface's TypeLib key.
// {EF96C7F8-7E05-40D7-9603-0880D0D654A2}
CORVANTIS_TEST_STRING(kTestLibSharedLibidString, "{EF96C7F8-7E05-40D7-9603-0880D0D654A2}")
CORVANTIS_TEST_STRING(kTestLibSharedVersionString, "2.1")
CORVANTIS_TEST_STRING(kTestLibSharedFile, "TestLibShared.tlb")

// ---------------------------------------------------------------------------
// Marker keys. The servers below write them under HKEY_LOCAL_MACHINE with
// plain RegCreateKeyExA (no KEY_WOW64_* flags), so a 32-bit reader sees them
// in the same registry view the 32-bit servers wrote to.
// ---------------------------------------------------------------------------

CORVANTIS_TEST_STRING(kMarkerRootKey, "Software\\CorvantisTests")

// NoUnregServer.dll: DllRegisterServer sets "Registered" = DWORD 1.
CORVANTIS_TEST_STRING(kNoUnregKey, "Software\\CorvantisTests\\NoUnreg")
CORVANTIS_TEST_STRING(kNoUnregValueName, "Registered")
inline constexpr DWORD kNoUnregValue = 1;

// dep\DepServer.dll: DllRegisterServer sets "Value" = DWORD returned by
// DepHelperValue() from dep\DepHelper.dll; DllUnregisterServer deletes the key.
CORVANTIS_TEST_STRING(kDepKey, "Software\\CorvantisTests\\Dep")
CORVANTIS_TEST_STRING(kDepValueName, "Value")
inline constexpr DWORD kDepHelperValue = 42;
// The look-alike planted\DepHelper.dll returns this instead.
inline constexpr DWORD kPlantedDepHelperValue = 666;
// Name of the function DepHelper.dll exports (cdecl, undecorated).
CORVANTIS_TEST_STRING(kDepHelperExport, "DepHelperValue")

// ExeServer.exe: "/regserver" writes "Path" (its module file name) and
// "CommandLine" (GetCommandLineA() verbatim), both REG_SZ; "/unregserver"
// deletes the key. Both exit with code 0.
CORVANTIS_TEST_STRING(kExeServerKey, "Software\\CorvantisTests\\ExeServer")
CORVANTIS_TEST_STRING(kExeServerPathValueName, "Path")
CORVANTIS_TEST_STRING(kExeServerCommandLineValueName, "CommandLine")
// ExeServerFail.exe touches nothing and exits with this code.
inline constexpr DWORD kExeServerFailExitCode = 3;
// If set to a decimal number, both EXE servers sleep that many milliseconds
// before doing anything else (for timeout and progress tests).
CORVANTIS_TEST_STRING(kServerDelayEnvVar, "CORVANTIS_TEST_SERVER_DELAY_MS")

// ---------------------------------------------------------------------------
// Exception codes the faulting server raises.
// ---------------------------------------------------------------------------

// FaultServer.dll DllRegisterServer: write through a null pointer.
inline constexpr DWORD kFaultRegisterCode = 0xC0000005;    // EXCEPTION_ACCESS_VIOLATION
// FaultServer.dll DllUnregisterServer: integer division by zero.
inline constexpr DWORD kFaultUnregisterCode = 0xC0000094;  // EXCEPTION_INT_DIVIDE_BY_ZERO

// ---------------------------------------------------------------------------
// File names, relative to the testdata folder (CORVANTIS_TESTDATA_DIR).
// ---------------------------------------------------------------------------

CORVANTIS_TEST_STRING(kOkServerFile, "OkServer.dll")
CORVANTIS_TEST_STRING(kSFalseServerFile, "SFalseServer.dll")
CORVANTIS_TEST_STRING(kNoUnregServerFile, "NoUnregServer.dll")
CORVANTIS_TEST_STRING(kFaultServerFile, "FaultServer.dll")
CORVANTIS_TEST_STRING(kProbeServerFile, "ProbeServer.dll")
CORVANTIS_TEST_STRING(kDepFolder, "dep")
CORVANTIS_TEST_STRING(kDepHelperFile, "dep\\DepHelper.dll")
CORVANTIS_TEST_STRING(kDepServerFile, "dep\\DepServer.dll")
CORVANTIS_TEST_STRING(kNotALibraryFile, "NotALibrary.dll")
CORVANTIS_TEST_STRING(kExeServerFile, "ExeServer.exe")
CORVANTIS_TEST_STRING(kExeServerFailFile, "ExeServerFail.exe")
CORVANTIS_TEST_STRING(kBlanksFolder, "folder with blanks")
CORVANTIS_TEST_STRING(kExeServerInBlanksFile, "folder with blanks\\ExeServer.exe")
CORVANTIS_TEST_STRING(kTestLibFile, "TestLib.tlb")
// A folder holding only the look-alike DepHelper.dll.
CORVANTIS_TEST_STRING(kPlantedFolder, "planted")

// InstallServer.dll: records its calls of DllRegisterServer,
// DllUnregisterServer and DllInstall under HKEY_CURRENT_USER\kInstallServerKey
// (see InstallServer.cpp).
CORVANTIS_TEST_STRING(kInstallServerFile, "InstallServer.dll")
CORVANTIS_TEST_STRING(kInstallServerKey, "Software\\CorvantisTests\\InstallServer")


// ---------------------------------------------------------------------------
// misbehave\: servers that crash, hang or end their host in various ways.
// Every DLL below is one binary (Misbehave.cpp) copied under several names;
// it picks its behaviour from its own file name, so the table tests only need
// the names. Both registration entry points behave alike.
// ---------------------------------------------------------------------------

CORVANTIS_TEST_STRING(kMisbehaveFolder, "misbehave")

// Declares NAME##Name (the bare file name, which the server matches against
// its own) and NAME##File (the path relative to the testdata folder).
#define CORVANTIS_MISBEHAVE_FILE(name, file)      \
    CORVANTIS_TEST_STRING(name##Name, file)       \
    CORVANTIS_TEST_STRING(name##File, "misbehave\\" file)

// Raises an MSVC-style C++ exception (kCppExceptionCode, non-continuable,
// magic kCppExceptionMagic, object, throw info, and the image base on x64)
// and leaves it unhandled.
CORVANTIS_MISBEHAVE_FILE(kMisbehaveCppThrow, "CppThrow.dll")
// Raises kMisbehaveNoncontinuableCode with EXCEPTION_NONCONTINUABLE.
CORVANTIS_MISBEHAVE_FILE(kMisbehaveNoncontinuable, "Noncontinuable.dll")
// The entry point never returns.
CORVANTIS_MISBEHAVE_FILE(kMisbehaveHang, "Hang.dll")
// DllMain never returns from DLL_PROCESS_ATTACH, so loading never finishes.
CORVANTIS_MISBEHAVE_FILE(kMisbehaveHangInDllMain, "HangInDllMain.dll")
// ExitProcess(kMisbehaveExitCode).
CORVANTIS_MISBEHAVE_FILE(kMisbehaveExit, "Exit.dll")
// Ends the process with kMisbehaveFailFastCode.
CORVANTIS_MISBEHAVE_FILE(kMisbehaveFailFast, "FailFast.dll")
// Ends the process with kMisbehaveHeapCorruptCode.
CORVANTIS_MISBEHAVE_FILE(kMisbehaveHeapCorrupt, "HeapCorrupt.dll")
// Unbounded recursion: kMisbehaveStackOverflowCode.
CORVANTIS_MISBEHAVE_FILE(kMisbehaveStackOverflow, "StackOverflow.dll")
// Sleeps kMisbehaveSlowEnvVar milliseconds (default kMisbehaveSlowDefaultMs),
// then returns S_OK.
CORVANTIS_MISBEHAVE_FILE(kMisbehaveSlow, "Slow.dll")
// Returns S_OK and writes nothing.
CORVANTIS_MISBEHAVE_FILE(kMisbehaveOk, "Ok.dll")
// Takes an access violation under an exception frame of its own, handles
// it, and returns S_OK (E_FAIL if its handler never ran). A caller that
// claims every first-chance access violation breaks it.
CORVANTIS_MISBEHAVE_FILE(kMisbehaveHandlesOwn, "HandlesOwn.dll")

#undef CORVANTIS_MISBEHAVE_FILE

// What the MSVC run-time raises for a C++ throw, and the first parameter of
// its exception record.
inline constexpr DWORD kCppExceptionCode = 0xE06D7363;
inline constexpr ULONG_PTR kCppExceptionMagic = 0x19930520;
// Decorated name of the type CppThrow.dll throws (in its throw information).
CORVANTIS_TEST_STRING(kMisbehaveCppThrowTypeName, ".?AUCorvantisTestError@@")
inline constexpr DWORD kMisbehaveNoncontinuableCode = 0xE0000042;
inline constexpr DWORD kMisbehaveExitCode = 7;
inline constexpr DWORD kMisbehaveFailFastCode = 0xC0000409;     // STATUS_STACK_BUFFER_OVERRUN
inline constexpr DWORD kMisbehaveHeapCorruptCode = 0xC0000374;  // STATUS_HEAP_CORRUPTION
inline constexpr DWORD kMisbehaveStackOverflowCode = 0xC00000FD;  // EXCEPTION_STACK_OVERFLOW
CORVANTIS_TEST_STRING(kMisbehaveSlowEnvVar, "CORVANTIS_TEST_SLOW_MS")
inline constexpr DWORD kMisbehaveSlowDefaultMs = 5000;
// Returned by the misbehaving DLL under a name it does not know.
inline constexpr HRESULT kMisbehaveUnknownNameResult = E_UNEXPECTED;

// misbehave\HandleProbe.exe: an EXE server stand-in that checks what it got
// from the process that started it. It ignores its arguments.
CORVANTIS_TEST_STRING(kHandleProbeFile, "misbehave\\HandleProbe.exe")
// The starter puts here the decimal value of an inheritable, manual-reset
// event it created signalled.
CORVANTIS_TEST_STRING(kHandleProbeHandleEnvVar, "CORVANTIS_TEST_PROBE_HANDLE")
// If set to a number, the probe sleeps that many milliseconds first.
CORVANTIS_TEST_STRING(kHandleProbeSleepEnvVar, "CORVANTIS_TEST_PROBE_SLEEP_MS")
inline constexpr DWORD kHandleProbeClean = 0;          // nothing inherited
inline constexpr DWORD kHandleProbeGotHandle = 1;      // the event is open and signalled
inline constexpr DWORD kHandleProbeGotStdHandle = 2;   // a standard handle is a file, pipe or device

// misbehave\Sleeper.exe: starts a copy of itself with kSleeperChildArg, then
// both sleep forever. If kSleeperPidFileEnvVar names a file, the child's
// process id is written there as decimal text (the file appears complete).
CORVANTIS_TEST_STRING(kSleeperFile, "misbehave\\Sleeper.exe")
CORVANTIS_TEST_STRING(kSleeperChildArg, "/child")
CORVANTIS_TEST_STRING(kSleeperPidFileEnvVar, "CORVANTIS_TEST_SLEEPER_PIDFILE")
// Exit code if the child could not be started.
inline constexpr DWORD kSleeperChildFailed = 1;

// ---------------------------------------------------------------------------
// UndoServer.dll: undoes the redirection of HKEY_CLASSES_ROOT, then writes
// this key below it.
// ---------------------------------------------------------------------------
CORVANTIS_TEST_STRING(kUndoServerClsidKey, "CLSID\\{5B3E6C2A-8D41-4F7E-9A0B-2C6D1E8F4A37}")

// ---------------------------------------------------------------------------
// DllMainWriter.dll: creates this key below HKEY_CLASSES_ROOT from DllMain.
// ---------------------------------------------------------------------------
CORVANTIS_TEST_STRING(kDllMainWriterClsidKey, "CLSID\\{6A1D0C4E-3B7F-4C2A-9E51-D11A0B5C7E28}")

// ---------------------------------------------------------------------------
// CaptureCases.dll: one server copied under the names kCaptureCasePrefix +
// case + ".dll"; DllRegisterServer writes what its case asks for, below:
// "equal" this class's default value, the text the test plants live first;
// "deleted" this class with the values "Kept" and "Dropped" and the key
// "Sub", then deletes Sub and "Dropped"; "view64", "view32" and "vendor"
// the value "View" ("64", "32", "own") of HKLM\kCaptureVendorKey with
// KEY_WOW64_64KEY, KEY_WOW64_32KEY, or in the server's own view; "shapes"
// below HKLM\kCaptureShapesKey "Lines" (a REG_SZ with a line break), "Nul"
// (one with a NUL inside), "Empty" (its NUL alone), "None" (a REG_BINARY of
// no bytes); "ownclass" this class with its own path as InprocServer32,
// then asks COM for it. DllUnregisterServer deletes the case's key.
// ---------------------------------------------------------------------------
CORVANTIS_TEST_STRING(kCaptureCasesFile, "CaptureCases.dll")
CORVANTIS_TEST_STRING(kCaptureCasePrefix, "CaptureCase-")
CORVANTIS_TEST_STRING(kCaptureEqualKey, "CLSID\\{2A19E1F1-AE99-41CD-B8CB-9AB656032923}")
CORVANTIS_TEST_STRING(kCaptureEqualText, "Corvantis Equal Case")
CORVANTIS_TEST_STRING(kCaptureDeletedKey, "CLSID\\{4B69B2B0-3565-4BAF-8EE7-E336DB43D0BB}")
CORVANTIS_TEST_STRING(kCaptureOwnClassKey, "CLSID\\{7C0D54A2-61E3-4F0B-9C2D-5B8E3A1F6D49}")
CORVANTIS_TEST_STRING(kCaptureVendorKey, "Software\\Corvantis Test Vendor\\Case")
CORVANTIS_TEST_STRING(kCaptureShapesKey, "Software\\Corvantis Test Vendor\\Shapes")

}  // namespace TestServers

#undef CORVANTIS_TEST_STRING
