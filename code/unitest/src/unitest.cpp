// unitest: exercises the thread, mutex and semaphore modules so an engineer can watch them on the target.
#include "unitest.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "tarn_commands.h"
#include "tarn_console.h"
#include "tarn_handle.h"
#include "tarn_thread.h"
#include "tarn_time.h"

namespace {

constexpr const char kUsage[] = "unitest usage: \n"
                                "-m [module]\n"
                                "thread \n"
                                "  | \n"
                                "  -- no option \n"
                                "mutex \n"
                                "  | \n"
                                "  -- no option \n"
                                "sem \n"
                                "  | \n"
                                "  -- no option \n";

constexpr const char kOptions[] = "m:h";

struct Module {
    const char *name;
    int (*run)();
};

constexpr std::array<Module, 3> kModules = {{
    {"thread", Unitest_Thread},
    {"mutex", Unitest_Mutex},
    {"sem", Unitest_Sem},
}};

void PrintUsage() {
    fputs(kUsage, stdout);
}

void RunModule(const char *name) {
    for (const Module &module : kModules) {
        if (strcmp(module.name, name) == 0) {
            module.run();
            return;
        }
    }
    TARN_ERR("unsupport module '%s'.\n", name);
    PrintUsage();
}

} // namespace

void Unitest_CountFive(const char *label) {
    for (int round = 0; round < 5; ++round) {
        TARN_INFO("%s %d.\n", label, round);
        Time_SleepUs(kUnitestSecondUs);
    }
}

int Unitest_RunPair(void *arg, void *(*test1)(void *), void *(*test2)(void *), uint64_t test2DelayUs) {
    OwnedHandle<Thread, Thread_Delete> first;
    const ThreadParam firstParam{"test1", arg, test1};
    if (Thread_Create(first.Address(), &firstParam) != 0) {
        TARN_ERR("Thread_Create \n");
        return -1;
    }
    Time_SleepUs(test2DelayUs);
    OwnedHandle<Thread, Thread_Delete> second;
    const ThreadParam secondParam{"test2", arg, test2};
    if (Thread_Create(second.Address(), &secondParam) != 0) {
        TARN_ERR("Thread_Create \n");
        first->WaitExit(first.Get());
        return -1;
    }
    first->WaitExit(first.Get());
    second->WaitExit(second.Get());
    return 0;
}

int Main_Unitest(int argc, char *argv[]) {
    if (argc == 1) {
        PrintUsage();
        return 0;
    }
    for (int option = getopt(argc, argv, kOptions); option != -1; option = getopt(argc, argv, kOptions)) {
        if (option == 'm') {
            RunModule(optarg);
        } else {
            PrintUsage();
        }
    }
    return 0;
}
