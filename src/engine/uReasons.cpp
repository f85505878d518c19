#include "engine/uReasons.h"

#include <cstdio>
#include <set>

#include "common/QVStrings.h"
#include "common/QVSystem.h"
#include "engine/uRegCore.h"

namespace engine {

namespace {

// The sentences of the details, English and Portuguese. The Portuguese texts
// are written here in UTF-8 and shown in the program's ANSI code page.
enum TText {
    txNoFile,
    txNotFoundFile,
    txNotFoundFolder,
    txNotFoundDrive,
    txNotProgram,
    txMachine,
    txX86AndX64,
    txX86Only,
    txX64Only,
    txLoadMissing,
    txLoadWrongMachine,
    txSearched,
    txNeededBy,
    txLoadPlain,
    txSystemError,
    txDotNet,
    txTypeLibContainer,
    txDllInstall,
    txOnlyOther,
    txExeAsLibrary,
    txNotAServer,
    txNoInstall,
    txClassObject,
    txReturned,
    txSFalse,
    txSelfRegTypeLib,
    txSelfRegClass,
    txAccessDenied,
    txRegistryAccess,
    txFault,
    txExitCode,
    txAsHResult,
    txTimeout,
    txStartFailed,
    txHelperMissing,
    txHelperStart,
    txHelperEnded,
    txTechnical,
    txExcAccessViolation,
    txExcDivideByZero,
    txExcStackOverflow,
    txExcIllegalInstruction,
    txExcPrivilegedInstruction,
    txExcInPageError,
    txExcIntegerOverflow,
    txExcFloat,
    txExcUnknown,
    txExcCpp,
    txExcNoncontinuable,
    txExcFailFast,
    txExcHeapCorruption,
    txHelperVersion,
    txHelperMalformed,
    txHelperTimeout,
    txHelperStopped,
    txHelperHalfWritten,
    txPhaseReading,
    txPhaseLoading,
    txPhaseCalling,
    txPhaseUnloading,
    txPhaseTypeLibrary,
    txExeStopped,
    txSystemFolder32,
    txAccessDeniedUser,
    txRegistryAccessUser,
    txNoMachineRights,
    txCount
};

struct TTextPair {
    const char* english;
    const char* portuguese;
};

const TTextPair kTexts[txCount] = {
    {"No file was named.", "Nenhum arquivo foi indicado."},
    {"The file '%s' does not exist.", "O arquivo '%s' não existe."},
    {"'%s' is a folder, not a file.", "'%s' é uma pasta, não um arquivo."},
    {"Drive %s is not ready or does not exist, so the file cannot be read.",
     "A unidade %s não está pronta ou não existe, por isso o arquivo não pode ser lido."},
    {"'%s' is not a Windows program file, so Windows cannot load it as a library.",
     "'%s' não é um arquivo de programa do Windows, por isso o Windows não o pode carregar como biblioteca."},
    {"'%s' is built for %s processors. On this computer Corvantis can load %s libraries only, so it cannot be "
     "registered here.",
     "'%s' foi compilado para processadores %s. Neste computador o Corvantis só pode carregar bibliotecas %s, por "
     "isso não pode ser registrado aqui."},
    {"x86 and x64", "x86 e x64"},
    {"x86", "x86"},
    {"x64", "x64"},
    {"Windows could not load '%s' because a library it needs was not found: %s.",
     "O Windows não conseguiu carregar '%s' porque não encontrou uma biblioteca de que ele precisa: %s."},
    {"Windows could not load '%s' because a library it needs is built for another processor: %s.",
     "O Windows não conseguiu carregar '%s' porque uma biblioteca de que ele precisa foi compilada para outro "
     "processador: %s."},
    {"Searched in the library's own folder, the system folder, the 16-bit system folder, the Windows folder and the "
     "folders of PATH.",
     "Procurado na pasta da própria biblioteca, na pasta do sistema, na pasta do sistema de 16 bits, na pasta do "
     "Windows e nas pastas do PATH."},
    {"needed by %s", "necessária para %s"},
    {"Windows could not load '%s'.", "O Windows não conseguiu carregar '%s'."},
    {"System error %s: %s", "Erro do sistema %s: %s"},
    {"'%s' is a .NET assembly, not a native COM server: it has no %s. Register it with the .NET registration tool "
     "(RegAsm.exe /codebase) instead.",
     "'%s' é um assembly .NET, não um servidor COM nativo: não tem %s. Registre-o com a ferramenta de registro do "
     ".NET (RegAsm.exe /codebase)."},
    {"'%s' contains a type library but no registration code: it is a type library container, not a "
     "self-registering server.",
     "'%s' contém uma biblioteca de tipos mas nenhum código de registro: é um contentor de biblioteca de tipos, não "
     "um servidor que se registra sozinho."},
    {"'%s' exports DllInstall: it is set up through DllInstall, not through %s.",
     "'%s' exporta DllInstall: é instalado através de DllInstall, não de %s."},
    {"'%s' exports %s but not %s.", "'%s' exporta %s mas não %s."},
    {"'%s' is a program (EXE), not a library. Executable servers register themselves when started with "
     "/regserver, which Corvantis does for files ending in .exe.",
     "'%s' é um programa (EXE), não uma biblioteca. Os servidores executáveis registram-se quando iniciados com "
     "/regserver, o que o Corvantis faz com os arquivos terminados em .exe."},
    {"'%s' exports neither DllRegisterServer nor DllUnregisterServer: it is not a self-registering COM server.",
     "'%s' não exporta DllRegisterServer nem DllUnregisterServer: não é um servidor COM que se registra sozinho."},
    {"'%s' exports neither DllInstall nor DllRegisterServer nor DllUnregisterServer: it is not a self-registering "
     "COM server.",
     "'%s' não exporta DllInstall, DllRegisterServer nem DllUnregisterServer: não é um servidor COM que se registra "
     "sozinho."},
    {"It does export DllGetClassObject, so it holds COM classes, but their registry entries must be written by its "
     "own setup.",
     "Exporta DllGetClassObject, por isso contém classes COM, mas as suas entradas no registro têm de ser escritas "
     "pela sua própria instalação."},
    {"%s returned %s.", "%s devolveu %s."},
    {"The server reports that it did not do all of its work; only S_OK (0) counts as success.",
     "O servidor indica que não fez todo o seu trabalho; só S_OK (0) conta como sucesso."},
    {"The server could not register its type library.", "O servidor não conseguiu registrar a sua biblioteca de tipos."},
    {"The server could not register one or more of its classes.",
     "O servidor não conseguiu registrar uma ou mais das suas classes."},
    {"Access was denied: registering a COM server for all users writes to HKEY_LOCAL_MACHINE, which needs an "
     "administrator. Run Corvantis as administrator, or register the server for the current user alone with "
     "CorvantisCmd --per-user.",
     "O acesso foi negado: registrar um servidor COM para todos os usuários escreve em HKEY_LOCAL_MACHINE, o que exige "
     "um administrador. Execute o Corvantis como administrador, ou registre o servidor só para o usuário atual com "
     "CorvantisCmd --per-user."},
    {"The type library could not be written to the registry: run Corvantis as administrator, or register it for the "
     "current user alone with CorvantisCmd --per-user.",
     "A biblioteca de tipos não pôde ser escrita no registro: execute o Corvantis como administrador, ou registre-a só "
     "para o usuário atual com CorvantisCmd --per-user."},
    {"%s raised exception %s (%s) at address %s. The helper process that had loaded it was ended, since the "
     "library's state is unknown.",
     "%s provocou a exceção %s (%s) no endereço %s. O processo auxiliar que a tinha carregado foi terminado, pois o "
     "estado da biblioteca é desconhecido."},
    {"The server process '%s' ended with exit code %s.", "O processo do servidor '%s' terminou com o código de saída %s."},
    {"Read as an HRESULT, the exit code is %s.", "Lido como HRESULT, o código de saída é %s."},
    {"The server process '%s' was still running after %s seconds. It was ended, with anything it had started; its "
     "registration may be half-written.",
     "O processo do servidor '%s' ainda estava em execução após %s segundos. Foi terminado, com tudo o que tinha "
     "iniciado; o seu registro pode ter ficado incompleto."},
    {"Windows could not start '%s'.", "O Windows não conseguiu iniciar '%s'."},
    {"'%s' is a %s-bit library. Corvantis registers %s-bit libraries through its helper '%s', which was not found. "
     "Reinstall Corvantis.",
     "'%s' é uma biblioteca de %s bits. O Corvantis registra bibliotecas de %s bits através do seu auxiliar '%s', "
     "que não foi encontrado. Reinstale o Corvantis."},
    {"'%s' is a %s-bit library, and the %s-bit helper '%s' could not be started.",
     "'%s' é uma biblioteca de %s bits, e o auxiliar de %s bits '%s' não pôde ser iniciado."},
    {"The %s-bit helper ended while it was loading or calling '%s' (exit code %s): the library ended the process.",
     "O auxiliar de %s bits terminou enquanto carregava ou chamava '%s' (código de saída %s): a biblioteca terminou "
     "o processo."},
    {"File: %s", "Arquivo: %s"},
    {"access violation", "violação de acesso"},
    {"integer division by zero", "divisão inteira por zero"},
    {"stack overflow", "estouro de pilha"},
    {"illegal instruction", "instrução ilegal"},
    {"privileged instruction", "instrução privilegiada"},
    {"in-page error", "erro de página"},
    {"integer overflow", "estouro de inteiro"},
    {"floating-point fault", "erro de vírgula flutuante"},
    {"unknown exception", "exceção desconhecida"},
    {"a C++ exception thrown out of the server", "uma exceção C++ lançada para fora do servidor"},
    {"non-continuable exception", "exceção não continuável"},
    {"fail fast: the code ended its process on purpose after detecting a fault",
     "falha rápida: o código terminou o seu processo de propósito após detetar um erro"},
    {"heap corruption", "corrupção da memória dinâmica (heap)"},
    {"The helper '%s' does not belong to this version of Corvantis (it speaks another version of their hand-over), "
     "so the file was not registered. Reinstall Corvantis.",
     "O auxiliar '%s' não pertence a esta versão do Corvantis (fala outra versão da sua comunicação), por isso o "
     "arquivo não foi registrado. Reinstale o Corvantis."},
    {"Corvantis could not read its helper's reply about '%s' (%s): an internal error of Corvantis, not of the "
     "server. The helper was ended; whether the file is registered is unknown.",
     "O Corvantis não conseguiu ler a resposta do seu auxiliar sobre '%s' (%s): um erro interno do Corvantis, não "
     "do servidor. O auxiliar foi terminado; não se sabe se o arquivo está registrado."},
    {"'%s' did not finish within %s seconds: %s.", "'%s' não terminou em %s segundos: %s."},
    {"The user stopped the work on '%s' after %s seconds: %s.",
     "O usuário interrompeu o trabalho com '%s' após %s segundos: %s."},
    {"The helper process was ended, with anything it had started; the server's registration may be half-written.",
     "O processo auxiliar foi terminado, com tudo o que tinha iniciado; o registro do servidor pode ter ficado "
     "incompleto."},
    {"the file was still being read", "o arquivo ainda estava a ser lido"},
    {"loading the library and running its DllMain did not finish",
     "o carregamento da biblioteca e a execução do seu DllMain não terminaram"},
    {"its %s did not return", "o seu %s não retornou"},
    {"%s returned, but unloading the library (its DllMain) did not finish",
     "%s retornou, mas a descarga da biblioteca (o seu DllMain) não terminou"},
    {"registering the type library through the system did not finish",
     "o registro da biblioteca de tipos pelo sistema não terminou"},
    {"The user stopped the server process '%s' after %s seconds. It was ended, with anything it had started; its "
     "registration may be half-written.",
     "O usuário interrompeu o processo do servidor '%s' após %s segundos. Foi terminado, com tudo o que tinha "
     "iniciado; o seu registro pode ter ficado incompleto."},
    {"'%s' is a 32-bit library in the 64-bit system folder (%s). Windows sends 32-bit programs that look for it "
     "there to %s instead, and 64-bit programs cannot load it, so no client could use it registered under this "
     "path. Copy it to %s and register it there.",
     "'%s' é uma biblioteca de 32 bits na pasta do sistema de 64 bits (%s). O Windows envia os programas de 32 bits "
     "que a procuram ali para %s, e os programas de 64 bits não a podem carregar, por isso nenhum cliente a poderia "
     "usar registrada com este caminho. Copie-a para %s e registre-a lá."},
    {"Access was denied although the server was registered for the current user alone: it writes outside the "
     "current user's classes too (to HKEY_LOCAL_MACHINE, say), which needs an administrator. Run Corvantis as "
     "administrator.",
     "O acesso foi negado embora o servidor fosse registrado só para o usuário atual: ele escreve também fora das "
     "classes do usuário atual (em HKEY_LOCAL_MACHINE, por exemplo), o que exige um administrador. Execute o "
     "Corvantis como administrador."},
    {"The type library could not be written to the current user's classes (HKEY_CURRENT_USER\\Software\\Classes).",
     "A biblioteca de tipos não pôde ser escrita nas classes do usuário atual (HKEY_CURRENT_USER\\Software\\Classes)."},
    {"This process may not write to HKEY_LOCAL_MACHINE\\Software\\Classes, which is the likely cause. Run Corvantis as "
     "administrator, or register the server for the current user alone with CorvantisCmd --per-user.",
     "Este processo não pode escrever em HKEY_LOCAL_MACHINE\\Software\\Classes, o que é a causa provável. Execute o "
     "Corvantis como administrador, ou registre o servidor só para o usuário atual com CorvantisCmd --per-user."},
};

std::string ToAnsi(const char* utf8) { return qv::Utf8ToAnsi(utf8); }

std::string Text(TText id, QVLanguage language) {
    return language == qlPortuguese ? ToAnsi(kTexts[id].portuguese) : kTexts[id].english;
}

template <class... Args>
std::string Fmt(TText id, QVLanguage language, const Args&... args) {
    return qv::Format(Text(id, language), args...);
}

const char* const kLineBreak = "\r\n";

std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        if (line.empty()) continue;
        if (!text.empty()) text += kLineBreak;
        text += line;
    }
    return text;
}

std::string Hex(std::uint32_t value, int digits = 8) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%0*lX", digits, static_cast<unsigned long>(value));
    return buffer;
}

std::string SystemLine(DWORD error, QVLanguage language) {
    return Fmt(txSystemError, language, CodeText(error), qv::SystemErrorText(error));
}

struct TNamedResult {
    HRESULT value;
    const char* name;
    TText meaning;  // txCount: none of our own
};

const TNamedResult kNamedResults[] = {
    {S_FALSE, "S_FALSE", txSFalse},
    {static_cast<HRESULT>(0x80040200L), "SELFREG_E_TYPELIB", txSelfRegTypeLib},
    {static_cast<HRESULT>(0x80040201L), "SELFREG_E_CLASS", txSelfRegClass},
    {E_ACCESSDENIED, "E_ACCESSDENIED", txAccessDenied},
    {static_cast<HRESULT>(0x8002801CL), "TYPE_E_REGISTRYACCESS", txRegistryAccess},
    {E_FAIL, "E_FAIL", txCount},
    {E_UNEXPECTED, "E_UNEXPECTED", txCount},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY", txCount},
    {E_NOTIMPL, "E_NOTIMPL", txCount},
    {E_INVALIDARG, "E_INVALIDARG", txCount},
    {static_cast<HRESULT>(0x80070002L), "ERROR_FILE_NOT_FOUND", txCount},
    {static_cast<HRESULT>(0x8007007EL), "ERROR_MOD_NOT_FOUND", txCount},
    {static_cast<HRESULT>(0x80029C4AL), "TYPE_E_CANTLOADLIBRARY", txCount},
    {static_cast<HRESULT>(0x800288BDL), "TYPE_E_INVDATAREAD", txCount},
    {static_cast<HRESULT>(0x80029C83L), "TYPE_E_UNSUPFORMAT", txCount},
};

const TNamedResult* FindResult(HRESULT hr) {
    for (const TNamedResult& named : kNamedResults) {
        if (named.value == hr) return &named;
    }
    return nullptr;
}

// Who registers, and whether this process may write the machine's classes:
// what an access-denied result advises.
struct TRights {
    bool perUser;
    bool machineWritable;
};

// The meaning of a result that says access was denied, as the rights make
// it read: for the current user alone, the machine's advice makes no sense.
TText MeaningFor(TText meaning, const TRights& rights) {
    if (!rights.perUser) return meaning;
    if (meaning == txAccessDenied) return txAccessDeniedUser;
    if (meaning == txRegistryAccess) return txRegistryAccessUser;
    return meaning;
}

// The value's meaning and the system's text, as lines after "returned ...".
// A server's own failure codes that say nothing of rights (SELFREG_E_CLASS,
// SELFREG_E_TYPELIB) add the advice of access denied when the registration
// is for all users and this process may not write the machine's classes.
std::vector<std::string> ResultLines(HRESULT hr, QVLanguage language, const TRights& rights) {
    std::vector<std::string> lines;
    const TNamedResult* named = FindResult(hr);
    if (named && named->meaning != txCount) lines.push_back(Text(MeaningFor(named->meaning, rights), language));
    const bool selfReg = hr == static_cast<HRESULT>(0x80040200L) || hr == static_cast<HRESULT>(0x80040201L);
    if (selfReg && !rights.perUser && !rights.machineWritable) lines.push_back(Text(txNoMachineRights, language));
    // FormatMessage knows the texts of system HRESULTs; it has none for the
    // servers' own codes, and a made-up "System error" line says nothing. A
    // success code would be read as a Win32 error of the same number.
    if (SUCCEEDED(hr)) return lines;
    char* buffer = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    std::string text(buffer ? buffer : "", buffer ? length : 0);
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (!text.empty()) lines.push_back(text);
    return lines;
}

std::string ExceptionName(DWORD code, QVLanguage language) {
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: return Text(txExcAccessViolation, language);
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return Text(txExcDivideByZero, language);
    case EXCEPTION_STACK_OVERFLOW: return Text(txExcStackOverflow, language);
    case EXCEPTION_ILLEGAL_INSTRUCTION: return Text(txExcIllegalInstruction, language);
    case EXCEPTION_PRIV_INSTRUCTION: return Text(txExcPrivilegedInstruction, language);
    case EXCEPTION_IN_PAGE_ERROR: return Text(txExcInPageError, language);
    case EXCEPTION_INT_OVERFLOW: return Text(txExcIntegerOverflow, language);
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_DENORMAL_OPERAND: return Text(txExcFloat, language);
    case 0xE06D7363: return Text(txExcCpp, language);
    case EXCEPTION_NONCONTINUABLE_EXCEPTION: return Text(txExcNoncontinuable, language);
    case 0xC0000409: return Text(txExcFailFast, language);
    case 0xC0000374: return Text(txExcHeapCorruption, language);
    default: return Text(txExcUnknown, language);
    }
}

// "0x6A281234 (Server.dll+0x1234)", or the bare address outside any module.
std::string DescribeAddress(std::uintptr_t address) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, sizeof(void*) == 8 ? "0x%016llX" : "0x%08llX",
                  static_cast<unsigned long long>(address));
    std::string text = buffer;
    HMODULE module = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(address), &module) &&
        module) {
        const std::string name = qv::ModuleFileName(module);
        std::snprintf(buffer, sizeof buffer, "%llX",
                      static_cast<unsigned long long>(address - reinterpret_cast<std::uintptr_t>(module)));
        text += " (" + ExtractFileName(name) + "+0x" + buffer + ")";
    }
    return text;
}

// "x64 DLL, exports DllRegisterServer and DllUnregisterServer, imports
// KERNEL32.dll, ole32.dll": the facts a reader checks first.
std::string FileFacts(const pe::TPeInfo& info) {
    if (!info.isPe) return std::string();
    std::string facts = pe::MachineName(info.machine, info.machineCode) + (info.isDll ? " DLL" : " EXE");
    if (info.exportsRegister || info.exportsUnregister) {
        facts += ", exports ";
        facts += info.exportsRegister && info.exportsUnregister ? "DllRegisterServer and DllUnregisterServer"
                 : info.exportsRegister                          ? "DllRegisterServer"
                                                                 : "DllUnregisterServer";
    }
    if (info.hasClrHeader) facts += ", .NET header";
    if (!info.imports.empty()) {
        facts += ", imports ";
        for (size_t i = 0; i < info.imports.size(); ++i) facts += (i ? ", " : "") + info.imports[i];
    }
    return facts + ".";
}

std::string FolderOf(const std::string& path) {
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::string Upper(std::string text) { return qv::UpperAscii(std::move(text)); }

bool IsApiSetName(const std::string& name) {
    std::string upper = Upper(name);
    return upper.rfind("API-MS-", 0) == 0 || upper.rfind("EXT-MS-", 0) == 0;
}

// The folders of the loader's search for a library loaded by full path with
// its own folder searched first, in a process that took the current folder
// out of the search (SetDllDirectory with an empty name): the library's own
// folder, the system folder, the 16-bit system folder, the Windows folder,
// then the folders of PATH in their order. The sentence txSearched names
// the same folders.
std::vector<std::string> SearchFolders(const std::string& libraryFolder) {
    std::vector<std::string> folders;
    folders.push_back(libraryFolder);
    char buffer[qv::kMaxPathBytes];
    UINT length = GetSystemDirectoryA(buffer, qv::kMaxPathBytes);
    if (length > 0 && length < qv::kMaxPathBytes) folders.emplace_back(buffer, length);
    length = GetWindowsDirectoryA(buffer, qv::kMaxPathBytes);
    if (length > 0 && length < qv::kMaxPathBytes) {
        std::string windows(buffer, length);
        folders.push_back(windows + "\\System");
        folders.push_back(windows);
    }
    DWORD needed = GetEnvironmentVariableA("PATH", nullptr, 0);
    if (needed > 0 && needed < 65536) {
        std::string path(needed, '\0');
        DWORD got = GetEnvironmentVariableA("PATH", &path[0], needed);
        path.resize(got < needed ? got : 0);
        size_t start = 0;
        while (start <= path.size()) {
            size_t end = path.find(';', start);
            if (end == std::string::npos) end = path.size();
            std::string folder = path.substr(start, end - start);
            if (!folder.empty()) folders.push_back(folder);
            start = end + 1;
        }
    }
    for (std::string& folder : folders) {
        while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    }
    return folders;
}

// The search's folders as probed during one walk: a folder whose probe failed
// for another reason than a missing file or path (a network folder that does
// not answer, a drive that is not ready, a name that is no folder) is left
// out for the rest of the walk, so it costs one failure rather than one per
// library looked for.
class TSearch {
public:
    explicit TSearch(std::vector<std::string> folders) : folders_(std::move(folders)), skipped_(folders_.size()) {}

    // The path of the first file named `name` in the folders; empty when none
    // holds one.
    std::string Find(const std::string& name) {
        for (size_t i = 0; i < folders_.size(); ++i) {
            if (skipped_[i]) continue;
            std::string candidate = folders_[i] + "\\" + name;
            DWORD attributes = GetFileAttributesA(candidate.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES) {
                if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return candidate;
                continue;
            }
            DWORD error = GetLastError();
            if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) skipped_[i] = true;
        }
        return std::string();
    }

private:
    std::vector<std::string> folders_;
    std::vector<bool> skipped_;
};

bool IsSystemFolder(const std::string& folder) {
    char buffer[qv::kMaxPathBytes];
    UINT length = GetSystemDirectoryA(buffer, qv::kMaxPathBytes);
    if (length > 0 && length < qv::kMaxPathBytes && Upper(folder) == Upper(std::string(buffer, length))) return true;
    length = GetWindowsDirectoryA(buffer, qv::kMaxPathBytes);
    return length > 0 && length < qv::kMaxPathBytes && Upper(folder).rfind(Upper(std::string(buffer, length)), 0) == 0;
}

std::string ListProblems(const std::vector<TDependencyProblem>& problems, bool missing, QVLanguage language) {
    std::string list;
    for (const TDependencyProblem& problem : problems) {
        if (problem.foundAt.empty() != missing) continue;
        if (!list.empty()) list += ", ";
        list += problem.name;
        if (!missing) list += " (" + pe::MachineName(problem.machine, problem.machineCode) + ", " + problem.foundAt + ")";
        list += " (" + Fmt(txNeededBy, language, problem.neededBy) + ")";
    }
    return list;
}

}  // namespace

pe::TMachine ProcessMachine() { return sizeof(void*) == 8 ? pe::TMachine::X64 : pe::TMachine::X86; }

pe::TMachine NativeMachine() {
    static const pe::TMachine machine = [] {
        using TIsWow64Process2 = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        auto isWow64Process2 = reinterpret_cast<TIsWow64Process2>(
            reinterpret_cast<void*>(kernel ? GetProcAddress(kernel, "IsWow64Process2") : nullptr));
        USHORT processMachine = 0, nativeMachine = 0;
        if (isWow64Process2 && isWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine)) {
            if (nativeMachine == IMAGE_FILE_MACHINE_AMD64) return pe::TMachine::X64;
            if (nativeMachine == 0xAA64) return pe::TMachine::Arm64;
            if (nativeMachine == IMAGE_FILE_MACHINE_I386) return pe::TMachine::X86;
            return pe::TMachine::Other;
        }
        SYSTEM_INFO info{};
        GetNativeSystemInfo(&info);
        switch (info.wProcessorArchitecture) {
        case PROCESSOR_ARCHITECTURE_AMD64: return pe::TMachine::X64;
        case PROCESSOR_ARCHITECTURE_INTEL: return pe::TMachine::X86;
        case 12: return pe::TMachine::Arm64;  // PROCESSOR_ARCHITECTURE_ARM64
        default: return pe::TMachine::Other;
        }
    }();
    return machine;
}

bool CanRunMachine(pe::TMachine machine) {
    pe::TMachine native = NativeMachine();
    switch (machine) {
    case pe::TMachine::X86: return native == pe::TMachine::X86 || native == pe::TMachine::X64 ||
                                   native == pe::TMachine::Arm64;
    case pe::TMachine::X64: return native == pe::TMachine::X64 || native == pe::TMachine::Arm64;
    default: return false;
    }
}

std::string CodeText(std::uint32_t code) { return std::to_string(code) + " (" + Hex(code) + ")"; }

std::string HResultText(HRESULT hr) {
    std::string text = Hex(static_cast<std::uint32_t>(hr));
    if (const TNamedResult* named = FindResult(hr)) text += std::string(" (") + named->name + ")";
    return text;
}

std::string NotFoundReason(const std::string& path, QVLanguage language) {
    if (path.empty()) return Text(txNoFile, language);
    bool unc = path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
    if (!unc && path.size() >= 2 && path[1] == ':') {
        char root[] = "?:\\";
        root[0] = path[0];
        UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
        ULARGE_INTEGER total{};
        BOOL ready = GetDiskFreeSpaceExA(root, nullptr, &total, nullptr);
        SetErrorMode(oldMode);
        if (!ready) return Fmt(txNotFoundDrive, language, path.substr(0, 2));
    }
    DWORD attributes = GetFileAttributesA(NativeViewOf(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return Fmt(txNotFoundFolder, language, path);
    }
    std::vector<std::string> lines{Fmt(txNotFoundFile, language, path)};
    DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
    if (error != 0 && error != ERROR_FILE_NOT_FOUND) lines.push_back(SystemLine(error, language));
    return Join(lines);
}

std::string NotProgramReason(const std::string& fileName, const pe::TPeInfo& info, QVLanguage language) {
    return Join({Fmt(txNotProgram, language, fileName), info.problem});
}

std::string MachineReason(const std::string& fileName, const pe::TPeInfo& info, QVLanguage language) {
    TText runnable = CanRunMachine(pe::TMachine::X64) ? txX86AndX64 : txX86Only;
    return Join({Fmt(txMachine, language, fileName, pe::MachineName(info.machine, info.machineCode),
                     Text(runnable, language)),
                 Fmt(txTechnical, language, FileFacts(info))});
}

std::string SystemFolderReason(const std::string& fileName, const std::string& fullPath, QVLanguage language) {
    const size_t cut = fullPath.find_last_of("\\/");
    const std::string folder = cut == std::string::npos ? fullPath : fullPath.substr(0, cut);
    char wow64[MAX_PATH * 2];
    const UINT length = GetSystemWow64DirectoryA(wow64, sizeof wow64);
    const std::string target = length > 0 && length < sizeof wow64 ? std::string(wow64, length) : "SysWOW64";
    return Fmt(txSystemFolder32, language, fileName, folder, target, target);
}

std::vector<TDependencyProblem> FindDependencyProblems(const std::string& fullPath, const pe::TPeInfo& info) {
    std::vector<TDependencyProblem> problems;
    // Every library is searched in the folders of the library first named:
    // the loader resolves a dependency's own imports with the same search.
    TSearch search(SearchFolders(FolderOf(fullPath)));
    // A drive that is not ready answers with an error, not with a prompt.
    DWORD oldMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS, &oldMode);
    struct TPending {
        std::string name;
        std::string neededBy;
    };
    // Bounded: a damaged or huge import graph can keep neither the walk nor
    // its list of names to look for growing.
    const size_t kMaxLibraries = 256;
    const size_t kMaxPending = 4096;
    std::vector<TPending> pending;
    auto add = [&pending](const std::vector<std::string>& names, const std::string& neededBy) {
        for (const std::string& name : names) {
            if (pending.size() >= kMaxPending) return;
            pending.push_back({name, neededBy});
        }
    };
    add(info.imports, ExtractFileName(fullPath));
    std::set<std::string> seen{Upper(ExtractFileName(fullPath))};
    for (size_t next = 0; next < pending.size() && seen.size() < kMaxLibraries; ++next) {
        TPending item = pending[next];
        if (!seen.insert(Upper(item.name)).second || IsApiSetName(item.name)) continue;
        if (item.name.find_first_of("\\/:") != std::string::npos) continue;
        if (GetModuleHandleA(item.name.c_str())) continue;
        const std::string found = search.Find(item.name);
        if (found.empty()) {
            problems.push_back({item.name, item.neededBy, std::string(), pe::TMachine::None, 0});
            continue;
        }
        if (IsSystemFolder(FolderOf(found))) continue;
        pe::TPeInfo dependency = pe::ReadPeFile(found);
        if (!dependency.isPe) continue;
        if (dependency.machine != info.machine) {
            problems.push_back({item.name, item.neededBy, found, dependency.machine, dependency.machineCode});
            continue;
        }
        add(dependency.imports, item.name);
    }
    SetThreadErrorMode(oldMode, nullptr);
    return problems;
}

std::string LoadFailureReason(const std::string& fullPath, const std::string& fileName, DWORD error,
                              const pe::TPeInfo& info, QVLanguage language) {
    std::vector<std::string> lines;
    if (info.isPe) {
        std::vector<TDependencyProblem> problems = FindDependencyProblems(fullPath, info);
        std::string missing = ListProblems(problems, true, language);
        std::string mismatched = ListProblems(problems, false, language);
        if (!missing.empty()) lines.push_back(Fmt(txLoadMissing, language, fileName, missing));
        if (!mismatched.empty()) lines.push_back(Fmt(txLoadWrongMachine, language, fileName, mismatched));
        if (!missing.empty()) lines.push_back(Text(txSearched, language));
    }
    if (lines.empty()) lines.push_back(Fmt(txLoadPlain, language, fileName));
    lines.push_back(SystemLine(error, language));
    if (info.isPe) lines.push_back(Fmt(txTechnical, language, FileFacts(info)));
    return Join(lines);
}

std::string MissingEntryReason(const std::string& fileName, const char* entry, HMODULE module,
                               const pe::TPeInfo& info, QVLanguage language) {
    auto exported = [module](const char* name) { return module && GetProcAddress(module, name) != nullptr; };
    bool registers = exported("DllRegisterServer");
    bool unregisters = exported("DllUnregisterServer");
    std::vector<std::string> lines;
    if (info.isPe && !info.isDll) {
        lines.push_back(Fmt(txExeAsLibrary, language, fileName));
    } else if (info.hasClrHeader) {
        lines.push_back(Fmt(txDotNet, language, fileName, entry));
    } else if (registers || unregisters) {
        lines.push_back(Fmt(txOnlyOther, language, fileName, registers ? "DllRegisterServer" : "DllUnregisterServer",
                            entry));
    } else if (exported("DllInstall")) {
        lines.push_back(Fmt(txDllInstall, language, fileName, entry));
    } else if (module && FindResourceA(module, MAKEINTRESOURCEA(1), "TYPELIB")) {
        lines.push_back(Fmt(txTypeLibContainer, language, fileName));
    } else {
        lines.push_back(Fmt(std::string(entry) == "DllInstall" ? txNoInstall : txNotAServer, language, fileName));
        if (exported("DllGetClassObject")) lines.push_back(Text(txClassObject, language));
    }
    if (info.isPe) lines.push_back(Fmt(txTechnical, language, FileFacts(info)));
    return Join(lines);
}

std::string DotNetReason(const std::string& fileName, const char* entry, QVLanguage language) {
    return Fmt(txDotNet, language, fileName, entry);
}

bool MachineClassesWritable() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Classes", 0, KEY_SET_VALUE | KEY_CREATE_SUB_KEY, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

std::string ResultReason(const char* call, HRESULT hr, QVLanguage language, bool perUser) {
    return ResultReason(call, hr, language, perUser, perUser || MachineClassesWritable());
}

std::string ResultReason(const char* call, HRESULT hr, QVLanguage language, bool perUser, bool machineWritable) {
    std::vector<std::string> lines{Fmt(txReturned, language, call, HResultText(hr))};
    for (std::string& line : ResultLines(hr, language, TRights{perUser, machineWritable})) {
        lines.push_back(std::move(line));
    }
    return Join(lines);
}

std::string FaultReason(const char* entry, DWORD code, std::uintptr_t address, QVLanguage language) {
    return Fmt(txFault, language, entry, Hex(code), ExceptionName(code, language), DescribeAddress(address));
}

std::string StartFailureReason(const std::string& path, const std::string& fileName, DWORD error,
                               QVLanguage language) {
    std::vector<std::string> lines{Fmt(txStartFailed, language, fileName), SystemLine(error, language)};
    if (FileExistsReady(path)) {
        pe::TPeInfo info = pe::ReadPeFile(NativeViewOf(path));
        if (!info.isPe) {
            lines.push_back(NotProgramReason(fileName, info, language));
        } else if (!CanRunMachine(info.machine)) {
            lines.push_back(MachineReason(fileName, info, language));
        }
    } else {
        lines.push_back(NotFoundReason(path, language));
    }
    return Join(lines);
}

std::string ExitCodeReason(const std::string& fileName, DWORD exitCode, QVLanguage language, bool perUser) {
    return ExitCodeReason(fileName, exitCode, language, perUser, perUser || MachineClassesWritable());
}

std::string ExitCodeReason(const std::string& fileName, DWORD exitCode, QVLanguage language, bool perUser,
                           bool machineWritable) {
    const TRights rights{perUser, machineWritable};
    std::vector<std::string> lines{Fmt(txExitCode, language, fileName, CodeText(exitCode))};
    // A bare ERROR_ACCESS_DENIED may mean anything the server was refused:
    // it is read as the registry's only when this process lacks the rights.
    if (exitCode == ERROR_ACCESS_DENIED && !perUser && !machineWritable) {
        lines.push_back(Text(txNoMachineRights, language));
    }
    // Servers often end with the HRESULT of their failed registration; a
    // value with the severity bit and a known facility reads as one.
    HRESULT hr = static_cast<HRESULT>(exitCode);
    unsigned facility = HRESULT_FACILITY(hr);
    if (FAILED(hr) && (facility <= 11 || facility == FACILITY_WIN32 || FindResult(hr))) {
        lines.push_back(Fmt(txAsHResult, language, HResultText(hr)));
        for (std::string& line : ResultLines(hr, language, rights)) lines.push_back(std::move(line));
    }
    return Join(lines);
}

namespace {

// "60", "1.5".
std::string Seconds(unsigned ms) {
    if (ms % 1000 == 0) return std::to_string(ms / 1000);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", ms / 1000.0);
    return buffer;
}

std::string PhaseText(TPhase phase, const char* entry, QVLanguage language) {
    switch (phase) {
    case TPhase::Loading: return Text(txPhaseLoading, language);
    case TPhase::Calling:
    case TPhase::Installing: return Fmt(txPhaseCalling, language, entry);
    case TPhase::Unloading: return Fmt(txPhaseUnloading, language, entry);
    case TPhase::TypeLibrary: return Text(txPhaseTypeLibrary, language);
    default: return Text(txPhaseReading, language);
    }
}

const char* Bits(pe::TMachine machine) { return machine == pe::TMachine::X64 ? "64" : "32"; }

}  // namespace

std::string TimeoutReason(const std::string& fileName, unsigned timeoutMs, QVLanguage language) {
    return Fmt(txTimeout, language, fileName, Seconds(timeoutMs));
}

std::string ExeStoppedReason(const std::string& fileName, unsigned afterMs, QVLanguage language) {
    return Fmt(txExeStopped, language, fileName, Seconds(afterMs));
}

std::string HelperTimeoutReason(const std::string& fileName, const char* entry, TPhase phase, unsigned timeoutMs,
                                QVLanguage language) {
    return Join({Fmt(txHelperTimeout, language, fileName, Seconds(timeoutMs), PhaseText(phase, entry, language)),
                 Text(txHelperHalfWritten, language)});
}

std::string HelperStoppedReason(const std::string& fileName, const char* entry, TPhase phase, unsigned afterMs,
                                QVLanguage language) {
    return Join({Fmt(txHelperStopped, language, fileName, Seconds(afterMs), PhaseText(phase, entry, language)),
                 Text(txHelperHalfWritten, language)});
}

std::string HelperMissingReason(const std::string& fileName, pe::TMachine machine, const std::string& helperPath,
                                QVLanguage language) {
    return Fmt(txHelperMissing, language, fileName, Bits(machine), Bits(machine), helperPath);
}

std::string HelperStartReason(const std::string& fileName, pe::TMachine machine, const std::string& helperPath,
                              DWORD error, QVLanguage language) {
    return Join({Fmt(txHelperStart, language, fileName, Bits(machine), Bits(machine), helperPath),
                 SystemLine(error, language)});
}

std::string HelperEndedReason(const std::string& fileName, pe::TMachine machine, DWORD exitCode,
                              QVLanguage language) {
    std::string code = Hex(exitCode);
    // An exit code that is an exception's status names it: the process was
    // ended by a fault no handler could take (fail fast, heap corruption).
    if ((exitCode & 0xF0000000u) == 0xC0000000u || exitCode == 0xE06D7363) {
        std::string name = ExceptionName(exitCode, language);
        if (name != Text(txExcUnknown, language)) code += ", " + name;
    }
    return Fmt(txHelperEnded, language, Bits(machine), fileName, code);
}

std::string HelperVersionReason(const std::string& helperPath, QVLanguage language) {
    return Fmt(txHelperVersion, language, helperPath);
}

std::string HelperMalformedReason(const std::string& fileName, const std::string& what, QVLanguage language) {
    return Fmt(txHelperMalformed, language, fileName, what);
}

}  // namespace engine
