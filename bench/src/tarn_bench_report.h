// How the bench reports its own failures: one line on standard error, apart from the tool's console.
#pragma once

namespace tarn::bench {

// "tarn-bench: <what>: <strerror(errno)>".
void ReportSystemError(const char *what);
// "tarn-bench: <printf text>" followed by a newline.
void ReportError(const char *format, ...) __attribute__((format(printf, 1, 2)));

} // namespace tarn::bench
