// Console lines: every message is one printf to standard output, in the five formats scripts parse.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tarn {

// Text after the last '/' of a path (all of it without one).
constexpr const char *BaseName(const char *path) {
    const char *base = path;
    for (const char *cursor = path; *cursor != '\0'; ++cursor) {
        if (*cursor == '/') {
            base = cursor + 1;
        }
    }
    return base;
}

// Prints the assertion line, then repeats it once a second for ever: a null handle is a programming error.
[[noreturn]] void AssertFailed(const char *file, const char *function, int line, const char *expression);

} // namespace tarn

// Each message leaves in full as soon as it is printed: the colour reset after a line's newline would
// otherwise wait in the buffer for the next line, and be lost when a watching tool is killed.
#define TARN_PRINT(...) (printf(__VA_ARGS__), fflush(stdout))

// The base name is computed at compile time so that a line costs one printf and nothing else.
#define TARN_SOURCE_NAME                                                                                               \
    ([] {                                                                                                              \
        constexpr const char *base = ::tarn::BaseName(__FILE__);                                                       \
        return base;                                                                                                   \
    }())

#define TARN_ERR(format, ...)                                                                                          \
    TARN_PRINT("\033[0;32;31m [tarn] error(%s|%s|%d): " format "\033[m", TARN_SOURCE_NAME, __func__, __LINE__,         \
               ##__VA_ARGS__)

#define TARN_WARN(format, ...)                                                                                         \
    TARN_PRINT("\033[1;33m [tarn] warn(%s|%s|%d): " format "\033[m", TARN_SOURCE_NAME, __func__, __LINE__,             \
               ##__VA_ARGS__)

// A failed system call: the call's name and strerror(errno); no reset sequence follows.
#define TARN_SYSERR(call)                                                                                              \
    TARN_PRINT("\033[1;31m [tarn] error(%s|%s|%d) %s: %s \n", TARN_SOURCE_NAME, __func__, __LINE__, call,              \
               strerror(errno))

#define TARN_INFO(format, ...) TARN_PRINT("\033[0;32;32m [tarn] " format "\033[m", ##__VA_ARGS__)

// An information line's lead followed by plain text on the same line, in one printf: the same bytes as
// TARN_INFO(lead) and a printf of the rest, but no other thread's line can come between them.
#define TARN_INFO_LEAD(lead, format, ...) TARN_PRINT("\033[0;32;32m [tarn] " lead "\033[m" format, ##__VA_ARGS__)

#define TARN_ASSERT(expression)                                                                                        \
    do {                                                                                                               \
        if (!(expression)) {                                                                                           \
            ::tarn::AssertFailed(TARN_SOURCE_NAME, __func__, __LINE__, #expression);                                   \
        }                                                                                                              \
    } while (0)
