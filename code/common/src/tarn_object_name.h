// Every named object keeps its name in a 32-byte text field: at most 31 characters, a longer name is cut.
#pragma once

#include <array>
#include <cstring>

using ObjectName = std::array<char, 32>;

inline ObjectName MakeObjectName(const char *text) {
    ObjectName name{};
    if (text != nullptr) {
        memcpy(name.data(), text, strnlen(text, name.size() - 1));
    }
    return name;
}
