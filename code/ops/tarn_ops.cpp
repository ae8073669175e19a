// tarn-ops: runs one library operation by name ("tarn-ops OP [ARGS]"), for factory stations and tests that
// need an entry point no tool of the command table calls.
#include <cstdio>
#include <cstring>

#include "tarn_ops_table.h"

namespace {

void PrintList() {
    puts("usage: tarn-ops OP [ARGS]");
    puts("operations:");
    for (size_t index = 0; index < tarn::OpRowCount(); ++index) {
        const tarn::OpRow &row = tarn::OpRows()[index];
        printf("  %s%s%s\n", row.name, *row.arguments != '\0' ? " " : "", row.arguments);
    }
}

const tarn::OpRow *FindRow(const char *name) {
    for (size_t index = 0; index < tarn::OpRowCount(); ++index) {
        if (strcmp(tarn::OpRows()[index].name, name) == 0) {
            return &tarn::OpRows()[index];
        }
    }
    return nullptr;
}

} // namespace

int main(int argc, char *argv[]) {
    // As in tarn: a script reading through a pipe sees each line at once.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 2) {
        PrintList();
        return 0;
    }
    const tarn::OpRow *row = FindRow(argv[1]);
    if (row == nullptr || argc - 2 != row->argumentCount) {
        PrintList();
        return 255;
    }
    uint32_t value = 0;
    if (row->run(argv + 2, &value) != 0) {
        return 255;
    }
    if (row->output == tarn::OpOutput::Hex) {
        printf("%s: 0x%08x\n", row->name, value);
    } else if (row->output == tarn::OpOutput::Decimal) {
        printf("%s: %u\n", row->name, value);
    }
    return 0;
}
