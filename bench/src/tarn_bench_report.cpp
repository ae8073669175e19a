#include "tarn_bench_report.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tarn::bench {

void ReportSystemError(const char *what) {
    fprintf(stderr, "tarn-bench: %s: %s\n", what, strerror(errno));
}

void ReportError(const char *format, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    fprintf(stderr, "tarn-bench: %s\n", text);
}

} // namespace tarn::bench
