#include "tarn_console.h"

#include <unistd.h>

namespace tarn {

void AssertFailed(const char *file, const char *function, int line, const char *expression) {
    for (;;) {
        printf("\033[0;35m [tarn] (%s|%s|%d): %s assert error!\n", file, function, line, expression);
        sleep(1);
    }
}

} // namespace tarn
