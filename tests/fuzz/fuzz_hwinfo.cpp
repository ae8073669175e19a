// hwinfo= in kernel command-line text. The input is the text of /proc/cmdline (at most 1023 bytes, as the
// product reads it). Checked against a plain scan of the same text: the value, whether it was too long, the
// project code, and what System_GetProj would leave in a caller's 32-byte buffer.
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "tarn_system.h"

namespace {

constexpr size_t kCmdlineMax = 1023;
constexpr char kKey[] = "hwinfo=";
constexpr size_t kValueMax = kHwinfoSize - 1;

struct Expected {
    bool found = false;
    std::string value; // the whole value, however long
};

Expected Scan(const char *text) {
    Expected expected;
    const size_t length = strlen(text);
    const size_t keyLength = sizeof(kKey) - 1;
    for (size_t start = 0; start + keyLength <= length; ++start) {
        if (memcmp(text + start, kKey, keyLength) == 0) {
            expected.found = true;
            for (const char *cursor = text + start + keyLength; *cursor != '\0' && *cursor != ':' && *cursor != ' ';
                 ++cursor) {
                expected.value += *cursor;
            }
            break;
        }
    }
    return expected;
}

int ProjectOf(const std::string &value) {
    // Searched in this order: the first code contained anywhere wins.
    const std::pair<const char *, int> codes[] = {
        {"COMM", kProjectCommon}, {"RV310", kProjectRv310}, {"RV311", kProjectRv311}};
    for (const auto &code : codes) {
        if (value.find(code.first) != std::string::npos) {
            return code.second;
        }
    }
    return kProjectUnknown;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::CatchConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ClearConsole();
    // Exactly as long as the text, so that reading past its end is caught.
    const size_t length = size < kCmdlineMax ? size : kCmdlineMax;
    std::unique_ptr<char[]> text(new char[length + 1]);
    memcpy(text.get(), data, length);
    text[length] = '\0';

    const Expected expected = Scan(text.get());
    const Hwinfo hwinfo = Tarn_ParseHwinfo(text.get());
    FUZZ_CHECK(hwinfo.value[kValueMax] == '\0');
    const std::string kept(hwinfo.value.data());
    if (!expected.found) {
        FUZZ_CHECK(hwinfo.status == HwinfoStatus::kAbsent);
        FUZZ_CHECK(kept.empty());
    } else if (expected.value.size() > kValueMax) {
        FUZZ_CHECK(hwinfo.status == HwinfoStatus::kTooLong);
        FUZZ_CHECK(kept == expected.value.substr(0, kValueMax));
    } else {
        FUZZ_CHECK(hwinfo.status == HwinfoStatus::kComplete);
        FUZZ_CHECK(kept == expected.value);
    }

    const int project = ProjectOf(kept);
    FUZZ_CHECK(Tarn_ProjOfCmdline(text.get()) == project);
    FUZZ_CHECK(fuzz::ConsoleHas("unknow project=") == (project == kProjectUnknown));

    // The caller's buffer is exactly 32 bytes; it is written only with a complete value.
    std::unique_ptr<char[]> buffer(new char[kHwinfoSize]);
    memset(buffer.get(), '#', kHwinfoSize);
    FUZZ_CHECK(System_GetProjOfCmdline(text.get(), buffer.get()) == 0);
    if (hwinfo.status == HwinfoStatus::kComplete) {
        FUZZ_CHECK(memcmp(buffer.get(), hwinfo.value.data(), kHwinfoSize) == 0);
    } else {
        for (size_t index = 0; index < kHwinfoSize; ++index) {
            FUZZ_CHECK(buffer[index] == '#');
        }
    }
    return 0;
}
