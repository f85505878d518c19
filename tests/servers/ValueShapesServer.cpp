// ValueShapesServer.dll: DllRegisterServer writes one value of each shape an
// installer's fragment must carry or report, under the current user's key
// Software\CorvantisTests\ValueShapes: text with brackets, braces, a leading
// "#", XML's special characters and a tab; an expandable string, a
// multi-string, binary data, a DWORD above 2^31, a REG_QWORD, and text whose
// braces enclose brackets (the last two no installer package can hold).
// DllUnregisterServer deletes the key.
#include <windows.h>
#include <objbase.h>

namespace {

const wchar_t kKey[] = L"Software\\CorvantisTests\\ValueShapes";

LONG Put(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    return RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
}

LONG PutText(HKEY key, const wchar_t* name, DWORD type, const wchar_t* text) {
    return Put(key, name, type, text, static_cast<DWORD>((lstrlenW(text) + 1) * sizeof(wchar_t)));
}

}  // namespace

STDAPI DllRegisterServer() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return E_FAIL;
    }
    static const wchar_t multi[] = L"one\0[two]\0#three\0";
    static const BYTE binary[] = {0x01, 0x00, 0xFF};
    const DWORD dword = 0xFFFFFFFEu;
    const ULONGLONG qword = 0x0123456789ABCDEFull;
    LONG status = PutText(key, L"Lead", REG_SZ, L"#1 is no number");
    if (status == ERROR_SUCCESS) status = PutText(key, L"Brackets", REG_SZ, L"[ProductName] a]b[ [~] [\\[] [#x]");
    if (status == ERROR_SUCCESS) status = PutText(key, L"Braces", REG_SZ, L"{x} {y");
    if (status == ERROR_SUCCESS) status = PutText(key, L"Xml", REG_SZ, L"<a & \"b\">\t'c'");
    if (status == ERROR_SUCCESS) status = PutText(key, L"N[1]", REG_SZ, L"named");
    if (status == ERROR_SUCCESS) status = PutText(key, L"Expand", REG_EXPAND_SZ, L"%SystemRoot%\\[x]");
    if (status == ERROR_SUCCESS) status = Put(key, L"Multi", REG_MULTI_SZ, multi, sizeof multi);
    if (status == ERROR_SUCCESS) status = Put(key, L"Binary", REG_BINARY, binary, sizeof binary);
    if (status == ERROR_SUCCESS) status = Put(key, L"Dword", REG_DWORD, &dword, sizeof dword);
    if (status == ERROR_SUCCESS) status = Put(key, L"Qword", REG_QWORD, &qword, sizeof qword);
    if (status == ERROR_SUCCESS) status = PutText(key, L"BracedBrackets", REG_SZ, L"{[z]}");
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? S_OK : E_FAIL;
}

STDAPI DllUnregisterServer() {
    const LONG status = RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : E_FAIL;
}
