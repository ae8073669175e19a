// lens_debug: the lens console. -s and -g take an index into the tables below followed by that entry's
// values; -u flashes the lens.
#include <cstdio>
#include <getopt.h>

#include "tarn_commands.h"
#include "tarn_console.h"
#include "tarn_console_words.h"
#include "tarn_lens.h"
#include "tarn_lens_debug.h"

namespace {

constexpr const char kOptions[] = "ls:g:u:h";
constexpr size_t kSetWords = 7;
constexpr size_t kGetWords = 5;
// The console's text buffer; a version is cut one byte short of it so the text stays terminated.
constexpr size_t kReplyBuffer = 16;

// The operations table of the option being run (LensDebug_RunOption), used by every handler. Main thread only.
LensOps *gpOps = nullptr;

// ---- set (-s) ----

struct SetRow {
    int index;
    const char *hint; // null: the usage shows the bare index; the description null: not in the usage at all
    const char *description;
    size_t words; // including the index
    // Entries without a word count: at least `words` words, the rest ignored (0: no values).
    bool extraIgnored;
    void (*run)(const ConsoleWords &words);

    constexpr WordRule Rule() const { return extraIgnored ? WordRule::AtLeast(words) : WordRule::Exactly(words); }
};

constexpr const char kMoveHint[] = "[pos -32768~32768] [speed 0~255]";

// clang-format off
constexpr SetRow kSetRows[] = {
    {2, kMoveHint, "move focus", 3, false, [](const ConsoleWords &w) { gpOps->MoveFocus(w.U16(1), w.U8(2)); }},
    {3, kMoveHint, "move zoom", 3, false, [](const ConsoleWords &w) { gpOps->MoveZoom(w.U16(1), w.U8(2)); }},
    {4, nullptr, "stop focus", 0, true, [](const ConsoleWords &) { gpOps->StopFocus(); }},
    {5, nullptr, "stop zoom", 0, true, [](const ConsoleWords &) { gpOps->StopZoom(); }},
    {6, kMoveHint, "move iris", 3, false, [](const ConsoleWords &w) { gpOps->MoveIris(w.U16(1), w.U8(2)); }},
    {7, kMoveHint, "move shutter", 3, false, [](const ConsoleWords &w) { gpOps->MoveShutter(w.U16(1), w.U8(2)); }},
    // A service entry: address and value in hexadecimal.
    {8, nullptr, nullptr, 3, true, [](const ConsoleWords &w) {
         const int32_t result = gpOps->SetFlashBit(static_cast<uint16_t>(w.Number(1, 16)),
                                                   static_cast<uint8_t>(w.Number(2, 16)));
         TARN_INFO("ret = 0x%x\n", result);
     }},
};
// clang-format on

// ---- get (-g) ----

struct GetRow {
    int index;
    const char *description; // null: not in the usage
    size_t minWords;         // words the entry reads, index included
    void (*run)(const ConsoleWords &words);

    constexpr WordRule Rule() const { return WordRule::AtLeast(minWords); }
};

// The variables start at 0 and are printed whether the operation succeeded or not.
template <int32_t (*LensOps::*kGet)(uint32_t *)> void ShowState(const char *label) {
    uint32_t state = 0;
    (gpOps->*kGet)(&state);
    TARN_INFO("%s: %u.\n", label, state);
}

template <int32_t (*LensOps::*kGet)(int16_t *)> void ShowPosition(const char *label) {
    int16_t position = 0;
    (gpOps->*kGet)(&position);
    TARN_INFO("%s: %d.\n", label, position);
}

template <int32_t (*LensOps::*kGet)(uint8_t *, size_t)> void ShowVersion(const char *label) {
    char text[kReplyBuffer] = {};
    (gpOps->*kGet)(reinterpret_cast<uint8_t *>(text), sizeof(text) - 1);
    TARN_INFO("%s: %s.\n", label, text);
}

void ShowFlashData(const ConsoleWords &words) {
    uint8_t data[kReplyBuffer] = {};
    const int32_t count = gpOps->GetFlashData(static_cast<uint16_t>(words.Number(1, 16)), data, sizeof(data));
    for (int32_t index = 0; index < count; ++index) {
        TARN_INFO("%02x ", data[index]);
    }
    TARN_INFO("\n");
}

// clang-format off
constexpr GetRow kGetRows[] = {
    {1, "get focus pi state", 1, [](const ConsoleWords &) { ShowState<&LensOps::GetFocusPiState>("focus pi state"); }},
    {2, "get zoom pi state", 1, [](const ConsoleWords &) { ShowState<&LensOps::GetZoomPiState>("zoom pi state"); }},
    {3, "get focus position", 1, [](const ConsoleWords &) { ShowPosition<&LensOps::GetFocusPos>("focus position"); }},
    {4, "get zoom position", 1, [](const ConsoleWords &) { ShowPosition<&LensOps::GetZoomPos>("zoom position"); }},
    {5, "get iris position", 1, [](const ConsoleWords &) { ShowPosition<&LensOps::GetIrisPos>("IRIS position"); }},
    {6, "get shutter position", 1,
     [](const ConsoleWords &) { ShowPosition<&LensOps::GetShutterPos>("shutter position"); }},
    {7, "get lens init state", 1, [](const ConsoleWords &) { ShowState<&LensOps::GetInitState>("lens init state"); }},
    {8, nullptr, 1, [](const ConsoleWords &) { ShowVersion<&LensOps::GetSoftVersion>("lens soft version"); }},
    {9, nullptr, 1, [](const ConsoleWords &) { ShowVersion<&LensOps::GetHardVersion>("lens hard version"); }},
    {10, nullptr, 2, ShowFlashData},
};
// clang-format on

// ---- usage ----

const char *ExamplePrefix(bool first) {
    return first ? "    eg: " : "        ";
}

void PrintUsage() {
    puts("usage: ");
    puts("| ");
    puts("-- -l, loop test ");
    puts("    eg: lens_debug -l ");
    puts("-- -s, set command ");
    char line[160];
    bool first = true;
    for (const SetRow &row : kSetRows) {
        if (row.description == nullptr) {
            continue;
        }
        if (row.hint != nullptr) {
            snprintf(line, sizeof(line), "%slens_debug -s '%d %s', %s", ExamplePrefix(first), row.index, row.hint,
                     row.description);
        } else {
            snprintf(line, sizeof(line), "%slens_debug -s %d, %s", ExamplePrefix(first), row.index, row.description);
        }
        puts(line);
        first = false;
    }
    puts("-- -g, get command ");
    first = true;
    for (const GetRow &row : kGetRows) {
        if (row.description != nullptr) {
            snprintf(line, sizeof(line), "%slens_debug -g %d, %s", ExamplePrefix(first), row.index, row.description);
            puts(line);
            first = false;
        }
    }
    puts("-- -u, upgrade command ");
    puts("    eg: lens_debug -u [file_path], upgrade lens device");
    puts("-- -h, this usage ");
    puts("eg: lens_debug -h ");
}

// ---- handlers ----

int Lens_HandleSetCmd(const char *pArgument) {
    return ConsoleWords_Handle(pArgument, kSetWords, kSetRows, UnknownIndex::Warn);
}

int Lens_HandleGetCmd(const char *pArgument) {
    return ConsoleWords_Handle(pArgument, kGetWords, kGetRows, UnknownIndex::Warn);
}

} // namespace

void LensDebug_RunOption(LensOps *pOps, int option, const char *pArgument) {
    gpOps = pOps;
    switch (option) {
        case 'l':
            gpOps->LoopTest();
            break;
        case 's':
            Lens_HandleSetCmd(pArgument);
            break;
        case 'g':
            Lens_HandleGetCmd(pArgument);
            break;
        case 'u':
            gpOps->Upgrade(pArgument);
            break;
        case 'h':
            PrintUsage();
            break;
        default:
            break;
    }
}

int Main_LensDebug(int argc, char *argv[]) {
    if (argc < 2) {
        PrintUsage();
        return 0;
    }
    LensOps *pOps = nullptr;
    if (Lens_Create(&pOps) != 0) {
        TARN_ERR("lens create fail.\n");
        return -1;
    }
    int option = 0;
    while ((option = getopt(argc, argv, kOptions)) != -1) {
        LensDebug_RunOption(pOps, option, optarg);
    }
    Lens_Delete(&pOps);
    gpOps = nullptr;
    return 0;
}
