// unitest: exercises the thread, mutex and semaphore modules so an engineer can watch them on the target.
#include "unitest.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "tarn_commands.h"
#include "tarn_console.h"

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
