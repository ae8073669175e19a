// Every XtbOps command slot against the board's published rows: command byte, request and reply field
// types in order, time-out and whether the board confirms it. The simulator answers from the same tables,
// so a wrong row here would pass every exchange test.
#include <gtest/gtest.h>

#include <string>

#include "tarn_xtb_catalogue.h"

namespace {

// One letter per field: B u8, F flag, b i8, W u16 LE, w i16 LE, L u32 BE, S sixteen bytes.
std::string Letters(const XtbLayout &layout) {
    std::string letters;
    for (size_t index = 0; index < layout.count; ++index) {
        switch (layout.fields[index]) {
            case XtbField::U8:
                letters += 'B';
                break;
            case XtbField::Flag:
                letters += 'F';
                break;
            case XtbField::I8:
                letters += 'b';
                break;
            case XtbField::U16Le:
                letters += 'W';
                break;
            case XtbField::I16Le:
                letters += 'w';
                break;
            case XtbField::U32Be:
                letters += 'L';
                break;
            case XtbField::Sn16:
                letters += 'S';
                break;
        }
    }
    return letters;
}

struct Row {
    int slot;
    uint8_t cmd;
    const char *request;
    const char *reply;
    int timeoutMs;
    bool confirmed;
};

// clang-format off
constexpr Row kRows[] = {
    {0, 0x01, "", "", 2000, false},
    {1, 0x03, "B", "", 2000, false},         {39, 0x83, "", "B", 2000, false},
    {2, 0x04, "F", "", 2000, false},         {40, 0x84, "", "F", 2000, false},
    {3, 0x05, "F", "", 2000, false},         {41, 0x85, "", "F", 2000, false},
    {4, 0x06, "bbb", "", 2000, false},       {42, 0x86, "", "bbb", 2000, false},
    {5, 0x07, "BBB", "", 2000, false},       {43, 0x87, "", "BBB", 2000, false},
    {6, 0x08, "BBB", "", 2000, false},       {44, 0x88, "", "BBB", 2000, false},
    {7, 0x09, "F", "", 2000, false},         {45, 0x89, "", "F", 2000, false},
    {8, 0x0A, "F", "", 2000, false},         {46, 0x8A, "", "F", 2000, false},
    {9, 0x0B, "F", "", 2000, false},         {47, 0x8B, "", "F", 2000, false},
    {10, 0x0C, "BBB", "", 2000, false},      {48, 0x8C, "", "BBB", 2000, false},
    {11, 0x0D, "F", "", 2000, false},        {49, 0x8D, "", "F", 2000, false},
    {110, 0x0E, "B", "", 2000, false},       {111, 0x8E, "", "B", 2000, false},
    {12, 0x15, "BBB", "", 2000, false},      {50, 0x95, "", "BBB", 2000, false},
    {13, 0x16, "BBB", "", 2000, false},      {51, 0x96, "", "BBB", 2000, false},
    {14, 0x17, "BBB", "", 2000, false},      {52, 0x97, "", "BBB", 2000, false},
    {15, 0x18, "B", "", 2000, false},        {53, 0x98, "", "B", 2000, false},
    {16, 0x19, "BBBB", "", 2000, false},     {54, 0x99, "", "BBBB", 2000, false},
    {17, 0x1A, "BBB", "", 2000, false},      {55, 0x9A, "", "BBB", 2000, false},
    {18, 0x1B, "BBB", "", 2000, false},      {56, 0x9B, "", "BBB", 2000, false},
    {19, 0x1C, "BBB", "", 2000, false},      {57, 0x9C, "", "BBB", 2000, false},
    {20, 0x1E, "B", "", 2000, false},        {59, 0x9E, "", "B", 2000, false},
    {21, 0x20, "B", "", 2000, false},        {61, 0xA0, "", "B", 2000, false},
    {22, 0x22, "B", "", 2000, false},        {63, 0xA2, "", "B", 2000, false},
    {23, 0x28, "F", "", 2000, false},        {64, 0xA8, "", "F", 2000, false},
    {24, 0x29, "F", "", 2000, false},        {65, 0xA9, "", "F", 2000, false},
    {25, 0x2B, "F", "", 2000, false},        {67, 0xAB, "", "F", 2000, false},
    {26, 0x35, "BBBBBB", "", 2000, false},   {75, 0xB5, "", "BBBBBB", 2000, false},
    {28, 0x3C, "F", "", 2000, true},         {78, 0xBC, "", "F", 2000, false},
    {35, 0x56, "F", "", 2000, false},        {85, 0xD8, "", "F", 2000, false},
    {36, 0x57, "F", "", 2000, false},        {86, 0xD9, "", "F", 2000, false},
    {37, 0x58, "B", "", 2000, false},        {114, 0xD1, "", "B", 2000, false},
    {112, 0x60, "B", "", 2000, false},       {115, 0xDD, "", "B", 2000, false},
    {113, 0x61, "F", "", 2000, false},       {116, 0xDE, "", "F", 2000, false},
    {117, 0x62, "BWB", "", 5000, false},     {120, 0xDF, "", "WB", 2000, false},
    {27, 0x3D, "", "", 2000, true},
    {29, 0x3E, "BW", "", 2000, false},
    {121, 0x3F, "", "", 2000, false},
    {118, 0x63, "", "", 2000, false},
    {119, 0x64, "", "", 2000, false},
    {34, 0x55, "ww", "", 2000, false},
    {38, 0x59, "F", "", 2000, false},
    {122, 0x50, "BB", "", 2000, false},
    {30, 0x51, "", "", 2000, false},
    {31, 0x52, "F", "", 2000, false},
    {32, 0x53, "F", "", 2000, false},
    {33, 0x54, "F", "", 2000, false},
    {58, 0x9D, "", "B", 2000, false},
    {60, 0x9F, "", "B", 2000, false},
    {62, 0xA1, "", "B", 2000, false},
    {66, 0xAA, "", "www", 2000, false},
    {68, 0xAD, "", "www", 2000, false},
    {69, 0xAE, "", "www", 2000, false},
    {70, 0xAF, "", "WWWL", 2000, false},
    {71, 0xB0, "", "WWWW", 2000, false},
    {72, 0xB2, "", "BBB", 2000, false},
    {73, 0xB3, "", "BBB", 2000, false},
    {74, 0xB4, "", "BBB", 2000, false},
    {76, 0xB9, "", "B", 2000, false},
    {123, 0xBE, "", "BB", 2000, false},
    {77, 0xD0, "", "B", 2000, false},
    {79, 0xD2, "", "B", 2000, false},
    {80, 0xD3, "", "BBB", 2000, false},
    {81, 0xD4, "", "B", 2000, false},
    {82, 0xD5, "", "B", 2000, false},
    {83, 0xD6, "", "BBBB", 2000, false},
    {84, 0xD7, "B", "W", 2000, false},
    {87, 0xDA, "", "BB", 2000, false},
    {88, 0xDB, "", "B", 2000, false},
    {89, 0xDC, "", "B", 2000, false},
    {90, 0xE0, "", "L", 2000, false},
    {91, 0xE1, "", "L", 2000, false},
    {92, 0xE2, "", "L", 2000, false},
    {93, 0xE3, "", "L", 2000, false},
    {94, 0xE4, "", "L", 2000, false},
    {95, 0xE5, "", "L", 2000, false},
    {96, 0xE6, "", "L", 2000, false},
    {97, 0xE7, "", "L", 2000, false},
    {128, 0xE8, "", "S", 2000, false},
    {129, 0xE9, "", "S", 2000, false},
};
// clang-format on

TEST(XtbCatalogue, EveryCommandSlotHasItsPublishedRow) {
    // 130 slots less the eleven upgrades and the five that read the link's own state.
    EXPECT_EQ(114u, std::size(kRows));
    for (const Row &expected : kRows) {
        SCOPED_TRACE("slot " + std::to_string(expected.slot));
        const XtbOpRow row = XtbOpOfSlot(static_cast<size_t>(expected.slot));
        ASSERT_TRUE(row.found);
        EXPECT_EQ(expected.cmd, row.cmd);
        EXPECT_EQ(expected.request, Letters(row.request));
        EXPECT_EQ(expected.reply, Letters(row.reply));
        EXPECT_EQ(expected.timeoutMs, row.timeoutMs);
        EXPECT_EQ(expected.confirmed, row.confirmed);
    }
}

TEST(XtbCatalogue, UpgradeAndLinkStateSlotsAreNoCommands) {
    for (size_t slot : {98, 99, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 124, 125, 126, 127}) {
        EXPECT_FALSE(XtbOpOfSlot(slot).found) << "slot " << slot;
    }
}

} // namespace
