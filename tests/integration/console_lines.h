// Expected console lines, spelled once for both suites: the unit tests' spellings serve here too.
#pragma once

#include "../unit/console_capture.h"

#include <cstddef>
#include <string>

// What every upgrader prints first.
inline std::string BeginLine(const std::string &path, size_t size) {
    return InfoLine("begin to upgrade file='" + path + "' size=" + std::to_string(size) + " to firmware.\n");
}
