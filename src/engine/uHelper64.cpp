#include "engine/uHelper64.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/QVHandles.h"
#include "common/QVStrings.h"
#include "common/QVSystem.h"
#include "engine/uReasons.h"
#include "resource.h"

namespace engine {

const char* const kHelperFileName = "Corvantis64.exe";

namespace {

// No message of the protocol comes near this; a larger length is damage.
const std::uint32_t kMaxFrame = 4u << 20;

THelper64* CurrentSessionHelper = nullptr;

std::string ProgramFolder() {
    char path[MAX_PATH * 2];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH * 2);
    std::string folder(path, length < MAX_PATH * 2 ? length : 0);
    size_t cut = folder.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : folder.substr(0, cut + 1);
}

// Blocking transfers on the helper's side of the pipe.
bool ReadAll(HANDLE pipe, void* buffer, DWORD size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    DWORD done = 0;
    while (done < size) {
        DWORD got = 0;
        if (!ReadFile(pipe, bytes + done, size - done, &got, nullptr) || got == 0) return false;
        done += got;
    }
    return true;
}

bool WriteAll(HANDLE pipe, const void* buffer, DWORD size) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    DWORD done = 0;
    while (done < size) {
        DWORD put = 0;
        if (!WriteFile(pipe, bytes + done, size - done, &put, nullptr) || put == 0) return false;
        done += put;
    }
    return true;
}

std::string LengthPrefix(std::uint32_t length) {
    std::string prefix(4, '\0');
    for (int i = 0; i < 4; ++i) prefix[static_cast<size_t>(i)] = static_cast<char>((length >> (8 * i)) & 0xFF);
    return prefix;
}

std::uint32_t ReadLength(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

std::string EncodeReply(const TRegOutcome& outcome) {
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.3f", outcome.ms);
    std::string bytes = outcome.success ? "1" : "0";
    bytes += '\0';
    bytes += ms;
    bytes += '\0';
    bytes += outcome.message;
    bytes += '\0';
    bytes += outcome.details;
    return bytes;
}

bool DecodeReply(const std::string& bytes, TRegOutcome& outcome) {
    size_t first = bytes.find('\0');
    if (first != 1 || (bytes[0] != '0' && bytes[0] != '1')) return false;
    size_t second = bytes.find('\0', first + 1);
    if (second == std::string::npos) return false;
    size_t third = bytes.find('\0', second + 1);
    if (third == std::string::npos) return false;
    std::string ms = bytes.substr(first + 1, second - first - 1);
    char* end = nullptr;
    double value = std::strtod(ms.c_str(), &end);
    if (ms.empty() || end != ms.c_str() + ms.size() || !(value >= 0)) return false;
    outcome.success = bytes[0] == '1';
    outcome.ms = value;
    outcome.message = bytes.substr(second + 1, third - second - 1);
    outcome.details = bytes.substr(third + 1);
    return outcome.details.find('\0') == std::string::npos;
}

struct THelper64::TImpl {
    qv::Handle pipe;     // our end, overlapped
    qv::Handle process;  // the helper
    qv::Handle event;    // completion of our transfers
    DWORD startError = 0;
    bool missing = false;

    bool Start() {
        std::string helperPath = ProgramFolder() + kHelperFileName;
        missing = !qv::FileExists(helperPath);
        if (missing) return false;
        static unsigned counter = 0;
        char name[96];
        std::snprintf(name, sizeof name, "\\\\.\\pipe\\Corvantis64-%lu-%lu-%u",
                      static_cast<unsigned long>(GetCurrentProcessId()), static_cast<unsigned long>(GetTickCount()),
                      ++counter);
        qv::Handle server(CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                           PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                           1, 64 * 1024, 64 * 1024, 0, nullptr));
        if (!server) {
            startError = GetLastError();
            return false;
        }
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        qv::Handle client(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr));
        if (!client) {
            startError = GetLastError();
            return false;
        }
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = client.get();
        startup.hStdOutput = client.get();
        startup.hStdError = client.get();
        std::string commandLine = "\"" + helperPath + "\" /serve";
        std::vector<char> buffer(commandLine.begin(), commandLine.end());
        buffer.push_back('\0');
        PROCESS_INFORMATION info{};
        if (!CreateProcessA(helperPath.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                            &info)) {
            startError = GetLastError();
            return false;
        }
        CloseHandle(info.hThread);
        process.reset(info.hProcess);
        pipe = std::move(server);
        event.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        // Our copy of the helper's end is closed, so that its exit breaks
        // the pipe and a pending read ends.
        return static_cast<bool>(event);
    }

    // One overlapped transfer of exactly `size` bytes, windows kept painted.
    bool Transfer(bool write, void* buffer, DWORD size, const std::function<void()>& pump) {
        auto* bytes = static_cast<unsigned char*>(buffer);
        DWORD done = 0;
        while (done < size) {
            OVERLAPPED overlapped{};
            overlapped.hEvent = event.get();
            BOOL ok = write ? WriteFile(pipe.get(), bytes + done, size - done, nullptr, &overlapped)
                            : ReadFile(pipe.get(), bytes + done, size - done, nullptr, &overlapped);
            if (!ok) {
                if (GetLastError() != ERROR_IO_PENDING) return false;
                WaitPumping(event.get(), INFINITE, pump);
            }
            DWORD moved = 0;
            if (!GetOverlappedResult(pipe.get(), &overlapped, &moved, TRUE) || moved == 0) return false;
            done += moved;
        }
        return true;
    }

    bool Exchange(const std::string& request, std::string& reply, const std::function<void()>& pump) {
        std::string frame = LengthPrefix(static_cast<std::uint32_t>(request.size())) + request;
        if (!Transfer(true, &frame[0], static_cast<DWORD>(frame.size()), pump)) return false;
        unsigned char length[4];
        if (!Transfer(false, length, 4, pump)) return false;
        std::uint32_t size = ReadLength(length);
        if (size > kMaxFrame) return false;
        reply.assign(size, '\0');
        return size == 0 || Transfer(false, &reply[0], size, pump);
    }

    DWORD EndAndExitCode() {
        pipe.reset();
        DWORD code = STILL_ACTIVE;
        if (process) {
            WaitForSingleObject(process.get(), 5000);
            if (!GetExitCodeProcess(process.get(), &code)) code = GetLastError();
        }
        process.reset();
        return code;
    }
};

THelper64::THelper64() : impl_(new TImpl) {}

THelper64::~THelper64() { Close(); }

bool THelper64::Running() const { return static_cast<bool>(impl_->pipe); }

unsigned long THelper64::ProcessId() const {
    return impl_->process ? GetProcessId(impl_->process.get()) : 0;
}

void THelper64::Close() {
    impl_->pipe.reset();
    impl_->process.reset();
}

TRegOutcome THelper64::Run(const std::string& fullPath, bool register_, QVLanguage language,
                           const std::function<void()>& pump) {
    double start = qv::NowMs();
    const std::string fileName = ExtractFileName(fullPath);
    const char* entry = register_ ? "DllRegisterServer" : "DllUnregisterServer";
    TRegOutcome outcome;
    if (!Running() && !impl_->Start()) {
        std::string helperPath = ProgramFolder() + kHelperFileName;
        outcome.message = qv::LoadFmt(IDS_LIB_LOAD_FAILED, fileName);
        outcome.details = impl_->missing ? HelperMissingReason(fileName, helperPath, language)
                                         : HelperStartReason(fileName, helperPath, impl_->startError, language);
        Close();
    } else {
        std::string reply;
        if (!impl_->Exchange(std::string(register_ ? "R" : "U") + (language == qlPortuguese ? "p" : "e") + fullPath,
                             reply, pump) || !DecodeReply(reply, outcome)) {
            outcome = TRegOutcome{};
            outcome.message = qv::LoadFmt(IDS_CALL_FAILED, entry, fileName);
            outcome.details = HelperEndedReason(fileName, impl_->EndAndExitCode(), language);
            Close();
        }
    }
    outcome.ms = qv::NowMs() - start;
    return outcome;
}

THelperSession::THelperSession() : previous_(CurrentSessionHelper) {
    CurrentSessionHelper = &helper_;
}

THelperSession::~THelperSession() { CurrentSessionHelper = previous_; }

TForeignRunner HelperRunner(QVLanguage language, std::function<void()> pump) {
    return [language, pump](const std::string& fullPath, bool register_, TRegOutcome& outcome) {
        if (CurrentSessionHelper) {
            outcome = CurrentSessionHelper->Run(fullPath, register_, language, pump);
        } else {
            THelper64 helper;
            outcome = helper.Run(fullPath, register_, language, pump);
        }
        return true;
    };
}

int ServeHelperRequests() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!input || input == INVALID_HANDLE_VALUE || !output || output == INVALID_HANDLE_VALUE) return 2;
    // A server that writes to its standard output must not write into the
    // replies: the pipe is kept here only.
    SetStdHandle(STD_INPUT_HANDLE, nullptr);
    SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
    SetStdHandle(STD_ERROR_HANDLE, nullptr);
    TRegContext context;
    for (;;) {
        unsigned char length[4];
        if (!ReadAll(input, length, 4)) return 0;  // the program closed the pipe
        std::uint32_t size = ReadLength(length);
        if (size < 3 || size > kMaxFrame) return 3;
        std::string request(size, '\0');
        if (!ReadAll(input, &request[0], size)) return 3;
        if ((request[0] != 'R' && request[0] != 'U') || (request[1] != 'e' && request[1] != 'p')) return 3;
        context.language = request[1] == 'p' ? qlPortuguese : qlEnglish;
        TRegOutcome outcome = RegisterFileCore(request.substr(2), request[0] == 'R', context);
        std::string reply = EncodeReply(outcome);
        std::string frame = LengthPrefix(static_cast<std::uint32_t>(reply.size())) + reply;
        if (!WriteAll(output, frame.data(), static_cast<DWORD>(frame.size()))) return 0;
    }
}

}  // namespace engine
