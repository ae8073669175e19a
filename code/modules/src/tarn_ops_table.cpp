// The rows of tarn-ops. A module offers an operation by adding its row here (a captureless lambda adapts the
// entry's arguments); the runner in code/ops reads only this table.
#include "tarn_ops_table.h"

namespace tarn {
namespace {

// The last row only ends the table, so that a module adds its rows above it without an empty array in
// between.
constexpr OpRow kRows[] = {
    {nullptr, nullptr, 0, OpOutput::None, nullptr},
};

constexpr size_t kRowCount = sizeof kRows / sizeof kRows[0] - 1;

} // namespace

const OpRow *OpRows() {
    return kRows;
}

size_t OpRowCount() {
    return kRowCount;
}

} // namespace tarn
