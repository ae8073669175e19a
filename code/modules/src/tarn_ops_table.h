// The operations tarn-ops runs: library entry points that no tool of the command table calls (the
// second-generation upgraders and queries, the MAVLink device handlers), one row each.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarn {

// What a successful run prints after the module's own lines.
enum class OpOutput {
    None,    // an action: nothing more
    Hex,     // "<op>: 0x%08x"
    Decimal, // "<op>: %u"
};

// Runs the operation with exactly the row's argument count of texts; a query fills value. 0 or -1.
using OpRun = int (*)(char *arguments[], uint32_t *value);

struct OpRow {
    const char *name;
    const char *arguments; // as the list shows them, "" for none
    int argumentCount;
    OpOutput output;
    OpRun run;
};

// Every row, in the order the list shows them.
const OpRow *OpRows();
size_t OpRowCount();

} // namespace tarn
