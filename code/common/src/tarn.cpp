// The dispatcher: the process entry of every tool.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <execinfo.h>
#include <unistd.h>

#include "tarn_commands.h"
#include "tarn_console.h"

namespace {

constexpr int kStackDepth = 10;
// Seconds a crashing process gets to print its trace before SIGALRM ends it (a crash inside the allocator
// could otherwise hang in backtrace_symbols).
constexpr unsigned kCrashReportSeconds = 2;

void CrashHandler(int signalNumber) {
    signal(signalNumber, SIG_DFL);
    alarm(kCrashReportSeconds);
    void *frames[kStackDepth];
    const int depth = backtrace(frames, kStackDepth);
    char **symbols = backtrace_symbols(frames, depth);
    printf("\n========================== stack trace ==========================\n");
    for (int index = 0; symbols != nullptr && index < depth; ++index) {
        printf(" %s \n", symbols[index]);
    }
    printf("=================================================================\n");
    free(symbols);
    exit(1);
}

void InstallCrashHandler() {
    // backtrace loads its unwinder on first use; do that now, not inside a crash.
    void *frame[1];
    backtrace(frame, 1);
    signal(SIGSEGV, CrashHandler);
    signal(SIGABRT, CrashHandler);
}

} // namespace

int main(int argc, char *argv[]) {
    // Scripts read the tools through pipes: every line must leave at once, even from a tool that is killed.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    InstallCrashHandler();

    const char *name = argc > 0 && argv[0] != nullptr ? tarn::BaseName(argv[0]) : "";
    int result = 0;
    for (const CommandEntry &command : kCommandTable) {
        if (strcmp(name, command.name) == 0) {
            result = command.entry(argc, argv);
        }
    }
    return result;
}
