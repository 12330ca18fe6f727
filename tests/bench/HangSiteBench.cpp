// The figures of hang_stack's walk over many hangs, for the README: how long a walked thread
// stood still, and the whole step from loading dbghelp to the last name. Each hang is a fresh
// instance of the clang-built double with its PDB, hung in its main thread beside three waiting
// workers, walked as korvel walks a main-thread hang and a call-stream hang. Not a test: timing on
// a shared machine says nothing about right or wrong. Run by tools/bench.sh (make bench).
//
//   hang_site_bench.exe [hangs]     default 25
#include "Handle.h"
#include "Processes.h"
#include "StackWalk.h"
#include "TamrixScript.h"
#include "TempDir.h"
#include "WinApi.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct TFigures {
    std::vector<double> SuspendedMs; // the longest of each hang's threads
    std::vector<double> StepMs;
};

std::string Distribution(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    char text[96];
    std::snprintf(text, sizeof text, "min %.2f / median %.2f / max %.2f ms", values.front(),
                  values[values.size() / 2], values.back());
    return text;
}

} // namespace

int main(int argc, char** argv) {
    const int hangs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 25;
    const TTempDir dir;
    const std::string app = dir.MakeDir("app");
    CreateDirectoryA((app + "\\korvel").c_str(), nullptr);
    const std::string exe = app + "\\Tamrix.exe";
    const std::string built = TestBinDirectory() + "\\hangdouble\\";
    if (!CopyFileA((built + "Tamrix.exe").c_str(), exe.c_str(), FALSE) ||
        !CopyFileA((built + "Tamrix.pdb").c_str(), (app + "\\Tamrix.pdb").c_str(), FALSE)) {
        std::printf("no double in %s\n", built.c_str());
        return 2;
    }
    WriteTamrixScript(exe, {{"hang_main_ms", 0}, {"workers", 3}, {"lifetime_ms", 60000}});
    int launch = 0;
    int failures = 0;
    for (const TStackScope scope : {TStackScope::MainThread, TStackScope::AllThreads}) {
        TFigures figures;
        for (int hang = 0; hang < hangs; ++hang) {
            TChildProcess child(Quoted(exe), app);
            ++launch;
            if (!WaitForTamrixTrace(
                    exe,
                    [&](const TTraceRecord& r) {
                        return r.Launch == launch && r.What == "hanging-main";
                    },
                    20000)) {
                std::printf("launch %d never hung\n", launch);
                return 1;
            }
            const THandle process(OpenProcess(
                PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ,
                FALSE, child.ProcessId()));
            const TStackReport report =
                ReadHangStacks(process.Get(), child.ProcessId(), scope, 2000);
            std::uint64_t longest = 0;
            for (const TThreadStack& stack : report.Threads) {
                longest = std::max(longest, stack.SuspendedUs);
                failures += stack.Failure.empty() ? 0 : 1;
            }
            failures += report.Failure.empty() ? 0 : 1;
            figures.SuspendedMs.push_back(static_cast<double>(longest) / 1000);
            figures.StepMs.push_back(static_cast<double>(report.StepUs) / 1000);
            child.Kill();
        }
        std::printf("%s, %d hangs: suspended %s; step %s\n",
                    scope == TStackScope::MainThread ? "main thread" : "all 5 threads", hangs,
                    Distribution(figures.SuspendedMs).c_str(),
                    Distribution(figures.StepMs).c_str());
    }
    std::printf("failed walks: %d\n", failures);
    return failures == 0 ? 0 : 1;
}
