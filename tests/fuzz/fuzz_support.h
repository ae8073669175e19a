// What the fuzz targets share: checks that abort with their line (libFuzzer then keeps the input), the console
// caught in memory (no system call per line, and a target can read what the product printed), and the input
// taken from the front a piece at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

[[noreturn]] inline void CheckFailed(const char *file, int line, const char *expression) {
    fprintf(stderr, "%s:%d: check failed: %s\n", file, line, expression);
    abort();
}

#define FUZZ_CHECK(expression) ((expression) ? (void)0 : ::fuzz::CheckFailed(__FILE__, __LINE__, #expression))

// Everything printed to standard output since the last ClearConsole. Never destroyed: standard output is still
// flushed into it after static objects are gone.
inline std::string &ConsoleText() {
    static std::string *text = new std::string;
    return *text;
}

inline void ClearConsole() {
    ConsoleText().clear();
}

inline bool ConsoleHas(const char *text) {
    return ConsoleText().find(text) != std::string::npos;
}

// Standard output becomes a stream whose writes append to ConsoleText. Call once, from LLVMFuzzerInitialize.
inline void CatchConsole() {
    cookie_io_functions_t functions = {};
    functions.write = [](void *, const char *bytes, size_t size) -> ssize_t {
        ConsoleText().append(bytes, size);
        return static_cast<ssize_t>(size);
    };
    FILE *stream = fopencookie(nullptr, "w", functions);
    if (stream == nullptr) {
        CheckFailed(__FILE__, __LINE__, "fopencookie");
    }
    stdout = stream;
}

// The fuzzer's bytes, taken from the front; past the end every byte reads 0.
class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte() {
        if (size_ == 0) {
            return 0;
        }
        --size_;
        return *data_++;
    }
    // Up to count bytes; *pCount receives how many there were.
    const uint8_t *Take(size_t count, size_t *pCount) {
        const uint8_t *taken = data_;
        *pCount = count < size_ ? count : size_;
        data_ += *pCount;
        size_ -= *pCount;
        return taken;
    }
    const uint8_t *Rest() const { return data_; }
    size_t Left() const { return size_; }

private:
    const uint8_t *data_;
    size_t size_;
};

} // namespace fuzz
