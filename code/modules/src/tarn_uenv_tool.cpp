// setuenv and priuenv: set, delete or print the boot loader's variables. Positional arguments only.
#include <cstdio>

#include "tarn_commands.h"
#include "tarn_console.h"
#include "tarn_handle.h"
#include "tarn_uenv.h"

namespace {

constexpr const char *kSetUsage[] = {
    "usage: setuenv [name] [val]",
    "eg: setuenv name, delete environment value",
    "    setuenv name val, add environment value",
};

constexpr const char *kPriUsage[] = {
    "usage: priuenv [name] ",
    "eg: priuenv, print all environment value",
    "    priuenv name, print special name environment value",
};

template <size_t Count> int PrintUsage(const char *const (&lines)[Count]) {
    for (const char *line : lines) {
        puts(line);
    }
    return 0;
}

// Runs one operation on a fresh handle, or fails with the tool's creation line.
template <typename Operation> int WithUenv(Operation operation) {
    OwnedHandle<Uenv, Uenv_Delete> uenv;
    if (Uenv_Create(uenv.Address()) != 0) {
        TARN_ERR("uenv create fail.\n");
        return -1;
    }
    return operation(*uenv.Get());
}

} // namespace

int Main_SetUenv(int argc, char *argv[]) {
    if (argc != 2 && argc != 3) {
        return PrintUsage(kSetUsage);
    }
    return WithUenv([&](Uenv &uenv) { return uenv.Set(argv[1], argc == 3 ? argv[2] : nullptr); });
}

int Main_PriUenv(int argc, char *argv[]) {
    if (argc > 2) {
        return PrintUsage(kPriUsage);
    }
    return WithUenv([&](Uenv &uenv) { return uenv.Pri(argc == 2 ? argv[1] : nullptr); });
}
