#include "console_capture.h"

#include <cstdio>
#include <sys/mman.h>
#include <unistd.h>

StdoutCapture::StdoutCapture() {
    fflush(stdout);
    savedStdout_ = dup(STDOUT_FILENO);
    captureFd_ = memfd_create("stdout-capture", 0);
    if (savedStdout_ >= 0 && captureFd_ >= 0) {
        dup2(captureFd_, STDOUT_FILENO);
    }
}

StdoutCapture::~StdoutCapture() {
    Finish();
}

std::string StdoutCapture::SoFar() const {
    std::string text;
    if (captureFd_ < 0) {
        return text;
    }
    fflush(stdout);
    char block[4096];
    for (off_t offset = 0;;) {
        const ssize_t count = pread(captureFd_, block, sizeof block, offset);
        if (count <= 0) {
            break;
        }
        text.append(block, static_cast<size_t>(count));
        offset += count;
    }
    return text;
}

std::string StdoutCapture::Finish() {
    if (captureFd_ < 0 || savedStdout_ < 0) {
        return std::string();
    }
    const std::string text = SoFar();
    dup2(savedStdout_, STDOUT_FILENO);
    close(savedStdout_);
    savedStdout_ = -1;
    close(captureFd_);
    captureFd_ = -1;
    return text;
}

std::string WithoutLocations(const std::string &text) {
    std::string result;
    size_t done = 0;
    for (size_t open = text.find('('); open != std::string::npos; open = text.find('(', open + 1)) {
        const size_t close = text.find(')', open);
        if (close == std::string::npos) {
            break;
        }
        const std::string inside = text.substr(open + 1, close - open - 1);
        const size_t firstBar = inside.find('|');
        const size_t lastBar = inside.rfind('|');
        const bool isTriple = firstBar != std::string::npos && lastBar != firstBar &&
                              inside.find('|', firstBar + 1) == lastBar && lastBar + 1 < inside.size() &&
                              inside.find_first_not_of("0123456789", lastBar + 1) == std::string::npos &&
                              inside.find_first_of("(\n") == std::string::npos;
        if (isTriple) {
            result += text.substr(done, open - done) + "(@)";
            done = close + 1;
            open = close;
        }
    }
    return result + text.substr(done);
}

std::string ErrorLine(const std::string &body) {
    return "\033[0;32;31m [tarn] error(@): " + body + "\033[m";
}

std::string WarnLine(const std::string &body) {
    return "\033[1;33m [tarn] warn(@): " + body + "\033[m";
}

std::string InfoLine(const std::string &body) {
    return "\033[0;32;32m [tarn] " + body + "\033[m";
}

std::string SyserrLine(const std::string &call, const std::string &reason) {
    return "\033[1;31m [tarn] error(@) " + call + ": " + reason + " \n";
}

std::string AssertLine(const std::string &expression) {
    return "\033[0;35m [tarn] (@): " + expression + " assert error!\n";
}
