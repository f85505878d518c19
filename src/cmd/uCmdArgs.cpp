#include "cmd/uCmdArgs.h"
#include "common/QVIdentifiers.h"

#include <cctype>

namespace cmd {

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A whole decimal number of 1 to kMaxStopAfter, nothing else.
bool ReadCount(const std::string& text, int& value) {
    if (text.empty() || text.size() > 7) return false;
    long number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + (c - '0');
    }
    if (number < 1 || number > kMaxStopAfter) return false;
    value = static_cast<int>(number);
    return true;
}


}  // namespace

bool ParseRunnerArguments(const std::vector<std::string>& args, TRunnerArgs& out, std::string& error) {
    out = TRunnerArgs{};
    std::vector<std::string> plain;
    bool help = false, version = false, stopGiven = false, logGiven = false, regGiven = false, wxsGiven = false, wxsFolderGiven = false,
         timeoutGiven = false,
         installGiven = false, optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-' || arg == "-") {
            if (arg == "/?") {
                help = true;
                continue;
            }
            plain.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg, value;
        bool hasValue = false;
        size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            hasValue = true;
        }
        name = Lower(name);
        auto takeValue = [&](const char* what) {
            if (hasValue) return true;
            if (i + 1 >= args.size()) {
                error = name + " needs " + what + ".";
                return false;
            }
            value = args[++i];
            return true;
        };
        auto noValue = [&] {
            if (!hasValue) return true;
            error = name + " takes no value.";
            return false;
        };
        if (name == "--help" || name == "-h" || name == "-?") {
            if (!noValue()) return false;
            help = true;
        } else if (name == "--version") {
            if (!noValue()) return false;
            version = true;
        } else if (name == "--unregister") {
            if (!noValue()) return false;
            out.unregister = true;
        } else if (name == "--unregister-first") {
            if (!noValue()) return false;
            out.unregisterFirst = true;
        } else if (name == "--continue") {
            if (!noValue()) return false;
            if (stopGiven && !out.continueAll) {
                error = "--continue and --stop-after exclude each other.";
                return false;
            }
            stopGiven = true;
            out.continueAll = true;
        } else if (name == "--stop-after") {
            if (!takeValue("a number of failed tasks")) return false;
            if (stopGiven) {
                error = out.continueAll ? "--continue and --stop-after exclude each other."
                                        : "--stop-after is given twice.";
                return false;
            }
            if (!ReadCount(value, out.stopAfter)) {
                error = "--stop-after needs a whole number from 1 to " + std::to_string(kMaxStopAfter) + ", not \"" +
                        value + "\".";
                return false;
            }
            stopGiven = true;
        } else if (name == "--log") {
            if (!takeValue("a file name")) return false;
            if (logGiven) {
                error = "--log is given twice.";
                return false;
            }
            if (value.empty()) {
                error = "--log needs a file name.";
                return false;
            }
            logGiven = true;
            out.log = value;
        } else if (name == "--reg") {
            if (!takeValue("a file name")) return false;
            if (regGiven) {
                error = "--reg is given twice.";
                return false;
            }
            if (value.empty()) {
                error = "--reg needs a file name.";
                return false;
            }
            regGiven = true;
            out.reg = value;
        } else if (name == "--wxs") {
            if (!takeValue("a file name")) return false;
            if (wxsGiven) {
                error = "--wxs is given twice.";
                return false;
            }
            if (value.empty()) {
                error = "--wxs needs a file name.";
                return false;
            }
            wxsGiven = true;
            out.wxs = value;
        } else if (name == "--wxs-folder") {
            if (!takeValue("a folder id")) return false;
            if (wxsFolderGiven) {
                error = "--wxs-folder is given twice.";
                return false;
            }
            if (!qv::IsInstallerIdentifier(value)) {
                error = "--wxs-folder needs a folder id: a letter or \"_\", then letters, digits, \"_\" and \".\" "
                        "(72 at most), not \"" + value + "\".";
                return false;
            }
            wxsFolderGiven = true;
            out.wxsFolder = value;
        } else if (name == "--timeout") {
            if (!takeValue("a number of seconds")) return false;
            if (timeoutGiven) {
                error = "--timeout is given twice.";
                return false;
            }
            if (!ReadCount(value, out.timeoutSeconds) || out.timeoutSeconds > kMaxTimeoutSeconds) {
                error = "--timeout needs a whole number of seconds from 1 to " + std::to_string(kMaxTimeoutSeconds) +
                        ", not \"" + value + "\".";
                return false;
            }
            timeoutGiven = true;
        } else if (name == "--quiet" || name == "-q") {
            if (!noValue()) return false;
            out.quiet = true;
        } else if (name == "--json") {
            if (!noValue()) return false;
            out.json = true;
        } else if (name == "--install") {
            // The text is optional, so it is only ever given after "=".
            if (installGiven) {
                error = "--install is given twice.";
                return false;
            }
            installGiven = true;
            out.install = true;
            out.installText = value;
        } else if (name == "--no-register") {
            if (!noValue()) return false;
            out.noRegister = true;
        } else if (name == "--per-user") {
            if (!noValue()) return false;
            out.perUser = true;
        } else if (name == "--regsvr32-exit-codes") {
            if (!noValue()) return false;
            out.regsvr32ExitCodes = true;
        } else {
            error = "Unknown option " + arg + ".";
            return false;
        }
    }
    if (help) {
        out.command = TCommand::Help;
        return true;
    }
    if (version) {
        out.command = TCommand::Version;
        return true;
    }
    if (plain.empty()) {
        error = "No command: give register, unregister, run, capture or verify.";
        return false;
    }
    if (out.noRegister && !out.install) {
        error = "--no-register needs --install: without it nothing would be called.";
        return false;
    }
    const std::string command = Lower(plain.front());
    plain.erase(plain.begin());
    for (const std::string& file : plain) {
        if (file.empty()) {
            error = "An empty file name was given.";
            return false;
        }
    }
    if (!out.reg.empty() && command != "capture") {
        error = "--reg belongs to capture.";
        return false;
    }
    if (!out.wxs.empty() && command != "capture") {
        error = "--wxs belongs to capture.";
        return false;
    }
    if (wxsFolderGiven && out.wxs.empty()) {
        error = "--wxs-folder belongs to --wxs.";
        return false;
    }
    if (command == "register" || command == "unregister") {
        out.command = command == "register" ? TCommand::Register : TCommand::Unregister;
        if (plain.empty()) {
            error = command + " needs at least one file.";
            return false;
        }
        if (out.unregister) {
            error = "--unregister belongs to run; use the unregister command.";
            return false;
        }
        if (out.unregisterFirst && out.command == TCommand::Unregister) {
            error = "--unregister-first belongs to registering.";
            return false;
        }
        out.files = std::move(plain);
        return true;
    }
    if (command == "capture") {
        out.command = TCommand::Capture;
        if (plain.empty()) {
            error = "capture needs at least one file.";
            return false;
        }
        if (out.unregister || out.unregisterFirst || out.install || out.noRegister || out.perUser || !out.log.empty()) {
            error = "capture takes only --reg, --wxs, --wxs-folder, --json, --quiet and --timeout.";
            return false;
        }
        out.files = std::move(plain);
        return true;
    }
    if (command == "verify") {
        out.command = TCommand::Verify;
        if (plain.empty()) {
            error = "verify needs at least one file.";
            return false;
        }
        if (out.unregister || out.unregisterFirst || out.install || out.noRegister || out.perUser || !out.log.empty() ||
            stopGiven || out.regsvr32ExitCodes) {
            error = "verify takes only --json, --quiet and --timeout.";
            return false;
        }
        out.files = std::move(plain);
        return true;
    }
    if (command == "run") {
        out.command = TCommand::Run;
        if (plain.size() != 1) {
            error = plain.empty() ? "run needs a batch file." : "run takes one batch file.";
            return false;
        }
        if (out.unregister && out.unregisterFirst) {
            error = "--unregister-first belongs to registering.";
            return false;
        }
        out.batch = plain.front();
        return true;
    }
    error = "Unknown command \"" + command + "\": give register, unregister, run, capture or verify.";
    return false;
}

int UsageExitCode(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--") break;
        if (Lower(arg) == "--regsvr32-exit-codes") return rcUsage;
    }
    return ecUsage;
}

std::string UsageText(const std::string& program) {
    return "Registers and unregisters COM servers (libraries, executable servers and type\n"
           "libraries; 32-bit and 64-bit) without any window.\n"
           "\n"
           "Usage:\n"
           "  " + program + " register FILE...      register each file, in order\n"
           "  " + program + " unregister FILE...    unregister each file, in order\n"
           "  " + program + " run BATCH.kvx         register every entry of a batch file\n"
           "  " + program + " capture FILE...       show the registry entries each library or\n"
           "                                  type library would write, without registering\n"
           "  " + program + " verify FILE...        tell whether each library or type library is\n"
           "                                  registered as its registration would register\n"
           "                                  it (a .kvx batch stands for its entries)\n"
           "  " + program + " --help | --version\n"
           "\n"
           "Options:\n"
           "  --unregister         run: unregister every entry instead\n"
           "  --unregister-first   unregister every file first, then register them all\n"
           "  --stop-after N       stop once N tasks failed (the rest are not run)\n"
           "  --continue           never stop; run every task\n"
           "                       (without either, the preference of Corvantis holds)\n"
           "  --log FILE           write the list of errors to FILE, as the task window\n"
           "                       saves it, when the run ends (not the batch or a server)\n"
           "  --reg FILE           capture: write every captured key to FILE as the\n"
           "                       registry editor exports them\n"
           "  --wxs FILE           capture: write the servers and their keys to FILE as\n"
           "                       a WiX v4 fragment (values it cannot hold are listed)\n"
           "  --wxs-folder ID      the fragment's folder id (default INSTALLFOLDER)\n"
           "  --timeout SECONDS    how long one server may work before it is ended and\n"
           "                       its task fails (default 60)\n"
           "  --quiet              print nothing but errors of the runner itself\n"
           "  --json               print one JSON object per task (file, operation,\n"
           "                       outcome, message, details, milliseconds), UTF-8\n"
           "  --install[=TEXT]     call DllInstall(TRUE, TEXT) after DllRegisterServer;\n"
           "                       unregistering, DllInstall(FALSE, TEXT) before\n"
           "                       DllUnregisterServer (libraries; TEXT empty if none)\n"
           "  --no-register        with --install: call DllInstall only, in every file\n"
           "  --per-user           register for the current user alone, in\n"
           "                       HKEY_CURRENT_USER\\Software\\Classes: no administrator\n"
           "                       needed; executable servers get /RegServerPerUser\n"
           "                       or /UnregServerPerUser\n"
           "  --regsvr32-exit-codes  end with the exit codes of regsvr32 (below)\n"
           "\n"
           "Each task prints one line as it ends, with the reason indented below a\n"
           "failure, and a summary line ends the run. Ctrl+C stops after the current\n"
           "task; a second Ctrl+C ends the server at work and stops at once. The end\n"
           "of the Windows session stops after the current task too. Relative paths\n"
           "are taken against the current folder.\n"
           "\n"
           "Exit codes:\n"
           "  0  every task succeeded\n"
           "  1  at least one task failed or was not run\n"
           "  2  the command line is wrong\n"
           "  3  the batch file could not be read\n"
           "  4  stopped by the user (Ctrl+C or Ctrl+Break) or the end of the session\n"
           "  5  an internal error of the runner\n"
           "  6  verify: a file is not registered, or not as its registration would\n"
           "     register it, or for this user only while the machine's classes name\n"
           "     another file\n"
           "\n"
           "With --regsvr32-exit-codes the exit code is that of regsvr32, for the last\n"
           "failure: 0 success (any success code, S_FALSE too, succeeds); 1 a wrong\n"
           "command line or a batch file that cannot be read; 3 a file missing or not\n"
           "loadable; 4 an entry point not found; 5 an entry point that failed or\n"
           "faulted, a time-out, a failed executable server, a stop by the user or an\n"
           "internal error.\n";
}

}  // namespace cmd
