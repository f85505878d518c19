// CaptureCases.dll: copied as "CaptureCase-<case>.dll", DllRegisterServer
// writes what its file name's case asks for (see TestServerIds.h); "equal"
// first undoes the redirection of HKEY_CLASSES_ROOT, to write over the live
// value. Under any other name both entry points return E_UNEXPECTED.
#include <windows.h>
#include <objbase.h>

#include <cwchar>

#include "TestServerIds.h"

namespace ts = TestServers;

namespace {

HINSTANCE g_module = nullptr;

// A REG_SZ of all of `text`'s units, its terminating NUL included.
template <size_t N>
LONG Sz(HKEY key, const wchar_t* name, const wchar_t (&text)[N]) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), N * sizeof(wchar_t));
}

enum TCaseId { kEqual, kDeleted, kView64, kView32, kVendor, kShapes, kOwnClass };

// The name after "CaptureCase-", the key written, and its view: KEY_WOW64_64KEY,
// KEY_WOW64_32KEY, or 0 for the server's own.
struct TCase { const wchar_t* name; HKEY root; const wchar_t* key; REGSAM view; };

const TCase kCases[] = {
    {L"equal", HKEY_CLASSES_ROOT, ts::kCaptureEqualKeyW, 0},
    {L"deleted", HKEY_CLASSES_ROOT, ts::kCaptureDeletedKeyW, 0},
    {L"view64", HKEY_LOCAL_MACHINE, ts::kCaptureVendorKeyW, KEY_WOW64_64KEY},
    {L"view32", HKEY_LOCAL_MACHINE, ts::kCaptureVendorKeyW, KEY_WOW64_32KEY},
    {L"vendor", HKEY_LOCAL_MACHINE, ts::kCaptureVendorKeyW, 0},
    {L"shapes", HKEY_LOCAL_MACHINE, ts::kCaptureShapesKeyW, 0},
    {L"ownclass", HKEY_CLASSES_ROOT, ts::kCaptureOwnClassKeyW, 0},
};

// The case's writes; the test finds out what of them failed.
LONG Write(int id, HKEY key) {
    static const BYTE none[1] = {};
    HKEY sub = nullptr;
    switch (id) {
    case kEqual: return Sz(key, nullptr, ts::kCaptureEqualTextW);
    case kDeleted:
        Sz(key, L"Kept", L"kept");
        Sz(key, L"Dropped", L"dropped");
        RegCreateKeyExW(key, L"Sub", 0, nullptr, 0, KEY_WRITE, nullptr, &sub, nullptr);
        Sz(sub, L"Inner", L"inner");
        RegCloseKey(sub);
        RegDeleteTreeW(key, L"Sub");
        return RegDeleteValueW(key, L"Dropped");
    case kView64: return Sz(key, L"View", L"64");
    case kView32: return Sz(key, L"View", L"32");
    case kVendor: return Sz(key, L"View", L"own");
    case kOwnClass: {
        wchar_t path[MAX_PATH];
        const DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
        return RegSetKeyValueW(key, L"InprocServer32", nullptr, REG_SZ, path, (length + 1) * sizeof(wchar_t));
    }
    default:
        Sz(key, L"Lines", L"one\r\ntwo");
        Sz(key, L"Nul", L"a\0b");
        Sz(key, L"Empty", L"");
        return RegSetValueExW(key, L"None", 0, REG_BINARY, none, 0);
    }
}

// The case this module's file name names: its index, or -1.
int OwnCase() {
    wchar_t path[MAX_PATH], name[MAX_PATH];
    const DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return -1;
    const wchar_t* file = wcsrchr(path, L'\\') ? wcsrchr(path, L'\\') + 1 : path;
    for (int i = 0; i < static_cast<int>(sizeof kCases / sizeof kCases[0]); ++i) {
        lstrcatW(lstrcatW(lstrcpyW(name, ts::kCaptureCasePrefixW), kCases[i].name), L".dll");
        if (lstrcmpiW(file, name) == 0) return i;
    }
    return -1;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = module;
    return TRUE;
}

STDAPI DllRegisterServer() {
    const int id = OwnCase();
    if (id < 0) return E_UNEXPECTED;
    if (id == kEqual) RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    const TCase& c = kCases[id];
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(c.root, c.key, 0, nullptr, 0, KEY_READ | KEY_WRITE | c.view, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = Write(id, key);
        RegCloseKey(key);
    }
    if (id == kOwnClass && status == ERROR_SUCCESS) {
        // Asks COM for the class just registered, as a server does that
        // needs an object of its own to register.
        CLSID clsid;
        IUnknown* object = nullptr;
        CoInitialize(nullptr);
        HRESULT hr = CLSIDFromString(c.key + 6, &clsid);
        if (SUCCEEDED(hr)) hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object));
        if (object) object->Release();
        CoUninitialize();
        return hr;
    }
    return HRESULT_FROM_WIN32(status);
}

STDAPI DllUnregisterServer() {
    const int id = OwnCase();
    if (id < 0) return E_UNEXPECTED;
    const LONG status = RegDeleteKeyExW(kCases[id].root, kCases[id].key, kCases[id].view, 0);
    return status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}
