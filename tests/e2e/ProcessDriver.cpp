#include "e2e/ProcessDriver.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "support/TestEnv.h"

namespace e2e {

namespace {

// Cross-process messages give up after this long rather than hang a test on
// a program that stopped answering.
constexpr UINT kMessageTimeoutMs = 5000;
constexpr DWORD kPollMs = 50;

struct TopLevelSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<TopLevelSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == search->processId && IsWindowVisible(hwnd)) search->found.push_back(hwnd);
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

std::string ClassOf(HWND hwnd) {
    char cls[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    return cls;
}

// The text through WM_GETTEXT: GetWindowText of another process's window
// reads only the stored caption, which an edit control does not keep.
std::string TextOf(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &length)) {
        return "<no answer>";
    }
    std::vector<char> buffer(length + 2, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied)) {
        return "<no answer>";
    }
    return std::string(buffer.data(), std::min<size_t>(copied, buffer.size() - 1));
}

bool IsPushButton(const ChildControl& child) {
    if (lstrcmpiA(child.className.c_str(), "Button") != 0) return false;
    LONG type = child.style & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

}  // namespace

std::string CorvantisExe() { return testenv::BinDir() + "Corvantis.exe"; }

std::string QuotedSwitch(const std::string& switchText, const std::string& file) {
    return "\"" + switchText + file + "\"";
}

CorvantisProcess::CorvantisProcess(const std::string& parameters) {
    const std::string exe = CorvantisExe();
    commandLine_ = "\"" + exe + "\"";
    if (!parameters.empty()) commandLine_ += " " + parameters;
    std::vector<char> buffer(commandLine_.begin(), commandLine_.end());
    buffer.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        ADD_FAILURE() << "could not start " << commandLine_ << " (error " << GetLastError() << ")";
        return;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
}

CorvantisProcess::CorvantisProcess(const std::wstring& parameters) {
    const std::string exe = CorvantisExe();
    std::wstring commandLine(exe.begin(), exe.end());  // the build folder's name is ASCII
    const std::wstring program = commandLine;
    commandLine = L"\"" + commandLine + L"\" " + parameters;
    commandLine_ = "\"" + exe + "\" <wide parameters>";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        ADD_FAILURE() << "could not start " << commandLine_ << " (error " << GetLastError() << ")";
        return;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
}

CorvantisProcess::CorvantisProcess(const std::string& verb, const std::string& file) {
    commandLine_ = (verb.empty() ? std::string("open") : verb) + " " + file;
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = verb.empty() ? nullptr : verb.c_str();
    info.lpFile = file.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info) || !info.hProcess) {
        ADD_FAILURE() << "the shell could not start '" << commandLine_ << "' (error " << GetLastError() << ")";
        return;
    }
    process_ = info.hProcess;
    processId_ = GetProcessId(info.hProcess);
}

CorvantisProcess::~CorvantisProcess() {
    if (!process_) return;
    if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 0xDEAD);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
}

bool CorvantisProcess::HasExited() const { return !process_ || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }

std::vector<HWND> CorvantisProcess::VisibleTopLevelWindows() const {
    TopLevelSearch search{processId_, {}};
    if (process_) EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND CorvantisProcess::WaitForWindow(DWORD timeoutMs) {
    window_ = nullptr;
    if (!process_) return nullptr;
    DWORD start = GetTickCount();
    for (;;) {
        // The splash window (no caption) comes and goes on its own.
        for (HWND window : VisibleTopLevelWindows()) {
            if ((GetWindowLongA(window, GWL_STYLE) & WS_CAPTION) == WS_CAPTION) {
                window_ = window;
                return window_;
            }
        }
        if (WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process_, &code);
            ADD_FAILURE() << commandLine_ << " ended without showing a window, exit code " << code;
            return nullptr;
        }
        if (GetTickCount() - start > timeoutMs) {
            ADD_FAILURE() << commandLine_ << " showed no window within " << timeoutMs << " ms";
            return nullptr;
        }
        Sleep(kPollMs);
    }
}

std::string CorvantisProcess::Caption() const {
    if (!window_) return "<no window>";
    char buffer[512] = {};
    GetWindowTextA(window_, buffer, sizeof buffer);
    return buffer;
}

std::string CorvantisProcess::ClassName() const { return window_ ? ClassOf(window_) : "<no window>"; }

LONG CorvantisProcess::Style() const { return window_ ? GetWindowLongA(window_, GWL_STYLE) : 0; }

LONG CorvantisProcess::ExStyle() const { return window_ ? GetWindowLongA(window_, GWL_EXSTYLE) : 0; }

std::vector<ChildControl> CorvantisProcess::Children() const {
    std::vector<ChildControl> result;
    if (!window_) return result;
    std::vector<HWND> handles;
    EnumChildWindows(window_, CollectChild, reinterpret_cast<LPARAM>(&handles));
    for (HWND hwnd : handles) {
        ChildControl child;
        child.hwnd = hwnd;
        child.className = ClassOf(hwnd);
        child.text = TextOf(hwnd);
        child.style = GetWindowLongA(hwnd, GWL_STYLE);
        child.visible = IsWindowVisible(hwnd) != FALSE;
        result.push_back(std::move(child));
    }
    return result;
}

std::vector<std::string> CorvantisProcess::VisibleButtonTexts() const {
    struct Placed {
        LONG left;
        LONG top;
        std::string text;
    };
    std::vector<Placed> buttons;
    for (const ChildControl& child : Children()) {
        if (!child.visible || !IsPushButton(child)) continue;
        RECT r{};
        GetWindowRect(child.hwnd, &r);
        buttons.push_back({r.left, r.top, child.text});
    }
    std::stable_sort(buttons.begin(), buttons.end(), [](const Placed& a, const Placed& b) {
        return a.left != b.left ? a.left < b.left : a.top < b.top;
    });
    std::vector<std::string> texts;
    for (auto& button : buttons) texts.push_back(button.text);
    return texts;
}

HWND CorvantisProcess::Button(const std::string& caption) const {
    for (const ChildControl& child : Children()) {
        if (IsPushButton(child) && child.text == caption) return child.hwnd;
    }
    return nullptr;
}

std::vector<std::string> CorvantisProcess::LabelTexts() const {
    std::vector<std::string> texts;
    for (const ChildControl& child : Children()) {
        if (child.visible && lstrcmpiA(child.className.c_str(), "Static") == 0 && !child.text.empty()) {
            texts.push_back(child.text);
        }
    }
    return texts;
}

std::string CorvantisProcess::EditText() const {
    for (const ChildControl& child : Children()) {
        if (lstrcmpiA(child.className.c_str(), "Edit") == 0) return child.text;
    }
    return "<no edit control>";
}

bool CorvantisProcess::PressButton(const std::string& caption) {
    HWND button = Button(caption);
    if (!button) {
        ADD_FAILURE() << "no button '" << caption << "' in the window '" << Caption() << "'";
        return false;
    }
    PostMessageA(button, BM_CLICK, 0, 0);
    return true;
}

void CorvantisProcess::PostKey(HWND target, WORD vk) {
    UINT scan = MapVirtualKeyA(vk, 0);
    PostMessageA(target, WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000);
}

void CorvantisProcess::PostClose() {
    if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
}

DWORD CorvantisProcess::WaitForExit(DWORD timeoutMs) {
    if (!process_) return 0xFFFFFFFF;
    if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
        ADD_FAILURE() << commandLine_ << " was still running " << timeoutMs << " ms after the last action; terminated";
        TerminateProcess(process_, 0xDEAD);
        WaitForSingleObject(process_, 5000);
        return 0xFFFFFFFF;
    }
    DWORD code = 0xFFFFFFFF;
    if (!GetExitCodeProcess(process_, &code)) {
        ADD_FAILURE() << "GetExitCodeProcess failed (error " << GetLastError() << ")";
        return 0xFFFFFFFF;
    }
    return code;
}

RunResult RunAndPress(const std::string& parameters, const std::string& button) {
    RunResult result;
    CorvantisProcess process(parameters);
    if (!process.Started()) return result;
    if (process.WaitForWindow()) {
        result.windowShown = true;
        result.caption = process.Caption();
        result.className = process.ClassName();
        result.style = process.Style();
        result.visibleTopLevelWindows = static_cast<int>(process.VisibleTopLevelWindows().size());
        result.labels = process.LabelTexts();
        result.visibleButtons = process.VisibleButtonTexts();
        result.details = process.EditText();
        // Without the expected button (already a failure) the window is
        // closed instead, so the process still ends on its own.
        if (button.empty() || !process.PressButton(button)) process.PostClose();
    }
    result.exitCode = process.WaitForExit();
    return result;
}

}  // namespace e2e
