// The environment block's list logic over any bytes flash may hold. The first byte sizes a new value; the
// rest is the block, exactly as long as the input so that reading past it is caught. Names for the changes
// come from the block's own variables (so copies, prefixes and the last variable are all exercised).
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tarn_uenv.h"

namespace {

#define UENV_CHECK(expression) ((expression) ? (void)0 : __builtin_trap())

constexpr size_t kMaxBlock = 8192;

// The names of the list's variables in order (text before the first '=', when there is one).
std::vector<std::string> Names(const uint8_t *block, long listEnd) {
    std::vector<std::string> names;
    for (long at = 4; at < listEnd;) {
        const std::string text(reinterpret_cast<const char *>(block) + at);
        const size_t equals = text.find('=');
        if (equals != std::string::npos && equals > 0) {
            names.push_back(text.substr(0, equals));
        }
        at += static_cast<long>(text.size()) + 1;
    }
    return names;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The block logic prints its refusals; nobody needs to read them here.
    stdout = fopen("/dev/null", "w");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 6 || size - 1 > kMaxBlock) {
        return 0;
    }
    const size_t blockSize = size - 1;
    std::unique_ptr<uint8_t[]> block(new uint8_t[blockSize]);
    memcpy(block.get(), data + 1, blockSize);

    const long listEnd = UenvBlock_ListEnd(block.get(), blockSize);
    if (listEnd < 0) {
        bool changed = false;
        const UenvChange change{"a", "1"};
        UENV_CHECK(UenvBlock_Apply(block.get(), blockSize, &change, 1, &changed) == -1);
        return 0;
    }
    UENV_CHECK(listEnd >= 4 && static_cast<size_t>(listEnd) < blockSize && block[listEnd] == 0);

    const std::vector<std::string> names = Names(block.get(), listEnd);
    const std::string value(static_cast<size_t>(data[0]) * 4, 'v');
    std::vector<UenvChange> changes;
    if (!names.empty()) {
        changes.push_back({names.front().c_str(), nullptr});
        changes.push_back({names.back().c_str(), value.c_str()});
    }
    changes.push_back({"fuzz", value.c_str()});
    bool changed = false;
    if (UenvBlock_Apply(block.get(), blockSize, changes.data(), static_cast<int>(changes.size()), &changed) != 0) {
        return 0; // overflow: callers never write such a block
    }
    const long newEnd = UenvBlock_ListEnd(block.get(), blockSize);
    UENV_CHECK(newEnd >= 4 && changed);
    // What was set is found with its value, what was deleted and not set again is gone.
    for (size_t index = 0; index < changes.size(); ++index) {
        const UenvChange &change = changes[index];
        bool setLater = false;
        for (size_t later = index + 1; later < changes.size(); ++later) {
            setLater = setLater || (changes[later].pVal != nullptr && strcmp(changes[later].pName, change.pName) == 0);
        }
        const long found = UenvBlock_Find(block.get(), static_cast<size_t>(newEnd), change.pName);
        if (change.pVal != nullptr) {
            UENV_CHECK(found >= 0);
            const char *text = reinterpret_cast<const char *>(block.get()) + found + strlen(change.pName) + 1;
            UENV_CHECK(strcmp(text, change.pVal) == 0);
        } else if (!setLater) {
            UENV_CHECK(found < 0);
        }
    }
    return 0;
}
