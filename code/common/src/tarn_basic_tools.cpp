// The three tools that need nothing but the console: the banner, msleep and usleep.
#include <cstdlib>

#include "tarn_build_stamp.h"
#include "tarn_commands.h"
#include "tarn_console.h"
#include "tarn_time.h"

namespace {

// Both sleep tools print the same usage line, which names usleep.
constexpr const char kSleepUsage[] = "usage: usleep [val]";

int SleepTool(int argc, char *argv[], uint64_t microsecondsPerUnit) {
    if (argc == 1) {
        puts(kSleepUsage);
        return 0;
    }
    const int value = atoi(argv[1]);
    if (value > 0) {
        Time_SleepUs(static_cast<uint64_t>(value) * microsecondsPerUnit);
    }
    return 0;
}

} // namespace

int Main_Tarn(int, char *[]) {
    TARN_INFO("build on %s at %s.\n", kBuildDate, kBuildTime);
    puts("tarn support tool list: ");
    for (const CommandEntry &command : kCommandTable) {
        printf("%s  ", command.name);
    }
    printf("\n");
    return 0;
}

int Main_Msleep(int argc, char *argv[]) {
    return SleepTool(argc, argv, 1000);
}

int Main_Usleep(int argc, char *argv[]) {
    return SleepTool(argc, argv, 1);
}
