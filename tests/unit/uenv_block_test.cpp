// The environment block's list logic on buffers: what the boot loader will find after a change.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console_capture.h"
#include "tarn_byte_order.h"
#include "tarn_crc.h"
#include "tarn_uenv.h"

namespace {

constexpr size_t kSmallBlock = 64;

// A block of the given size holding the variables, filled with 0xAA after the list as flash may be.
std::vector<uint8_t> Block(const std::vector<std::string> &variables, size_t size = kUenvSize) {
    std::vector<uint8_t> block(size, 0xAA);
    size_t at = 4;
    for (const std::string &variable : variables) {
        std::copy(variable.begin(), variable.end(), block.begin() + static_cast<long>(at));
        at += variable.size();
        block[at++] = 0;
    }
    block[at] = 0;
    return block;
}

std::vector<std::string> Variables(const std::vector<uint8_t> &block) {
    std::vector<std::string> variables;
    for (size_t at = 4; block[at] != 0;) {
        variables.emplace_back(reinterpret_cast<const char *>(block.data() + at));
        at += variables.back().size() + 1;
    }
    return variables;
}

int Apply(std::vector<uint8_t> &block, const std::vector<UenvChange> &changes, bool *changed) {
    return UenvBlock_Apply(block.data(), block.size(), changes.data(), static_cast<int>(changes.size()), changed);
}

TEST(UenvBlock, ReplacingMovesTheVariableToTheEndAndRemovesEveryCopy) {
    std::vector<uint8_t> block = Block({"bootcmd=x", "boot=1", "bootargs=a", "boot=2"});
    EXPECT_EQ(UenvBlock_Find(block.data(), block.size(), "boot"), 4 + 10);
    EXPECT_EQ(UenvBlock_Find(block.data(), block.size(), "bootc"), -1);
    bool changed = false;
    ASSERT_EQ(Apply(block, {{"boot", "3"}, {"bootcmd", nullptr}}, &changed), 0);
    EXPECT_TRUE(changed);
    EXPECT_EQ(Variables(block), (std::vector<std::string>{"bootargs=a", "boot=3"}));

    UenvBlock_Seal(block.data(), block.size());
    EXPECT_EQ(tarn::LoadLe32(block.data()), Crc_Crc32Ieee(block.data() + 4, block.size() - 4));
}

TEST(UenvBlock, DeletingAnAbsentNameLeavesTheListUnchanged) {
    std::vector<uint8_t> block = Block({"a=1"});
    const std::vector<uint8_t> before = block;
    bool changed = true;
    ASSERT_EQ(Apply(block, {{"b", nullptr}, {"a=1", nullptr}}, &changed), 0);
    EXPECT_FALSE(changed);
    EXPECT_EQ(block, before);
}

TEST(UenvBlock, EmptyListTakesTheFirstVariableAtItsStart) {
    std::vector<uint8_t> block = Block({}, kSmallBlock);
    bool changed = false;
    ASSERT_EQ(Apply(block, {{"n", "v"}}, &changed), 0);
    EXPECT_EQ(std::string(block.begin() + 4, block.begin() + 9), std::string("n=v\0\0", 5));
    EXPECT_EQ(block[9], 0xAA) << "bytes after the list stay as they were";
}

TEST(UenvBlock, OverflowFailsTheWholeBatch) {
    // 64 bytes: with "a" deleted the list ends at 4, leaving 60 bytes; "b=" and 57 more need 61.
    std::vector<uint8_t> block = Block({"a=1"}, kSmallBlock);
    bool changed = false;
    StdoutCapture capture;
    const std::string tooLong(57, 'x');
    const int result = Apply(block, {{"a", nullptr}, {"b", tooLong.c_str()}}, &changed);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(WithoutLocations(capture.Finish()), ErrorLine("environment overflow, \"b\" deleted\n"));

    // Exactly full is fine: name, '=', value, its zero and the list's zero.
    block = Block({"a=1"}, kSmallBlock);
    const std::string fits(64 - 8 - 1 - 3, 'y');
    ASSERT_EQ(Apply(block, {{"c", fits.c_str()}}, &changed), 0);
    EXPECT_EQ(Variables(block), (std::vector<std::string>{"a=1", "c=" + fits}));
}

TEST(UenvBlock, ListRunningToTheEndIsNotTerminated) {
    std::vector<uint8_t> block(kSmallBlock, 'z');
    StdoutCapture capture;
    EXPECT_EQ(UenvBlock_ListEnd(block.data(), block.size()), -1);
    // A last variable whose zero is the block's last byte leaves no room for the closing empty text.
    block.back() = 0;
    EXPECT_EQ(UenvBlock_ListEnd(block.data(), block.size()), -1);
    bool changed = false;
    EXPECT_EQ(Apply(block, {{"a", "1"}}, &changed), -1);
    EXPECT_EQ(WithoutLocations(capture.Finish()), ErrorLine("environment not terminated\n") +
                                                      ErrorLine("environment not terminated\n") +
                                                      ErrorLine("environment not terminated\n"));
}

} // namespace
