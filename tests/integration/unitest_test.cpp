// unitest through its installed link: the three self-tests, an unknown module and the usage.
#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "bench_fixture.h"
#include "console_lines.h"

namespace {

using namespace bench_test;

const std::string kUsage = "unitest usage: \n"
                           "-m [module]\n"
                           "thread \n"
                           "  | \n"
                           "  -- no option \n"
                           "mutex \n"
                           "  | \n"
                           "  -- no option \n"
                           "sem \n"
                           "  | \n"
                           "  -- no option \n";

// The output as one entry per message: a line's closing reset moves in front of its newline, so each entry reads
// like InfoLine("body") without the body's "\n".
std::vector<std::string> Messages(const std::string &output) {
    std::string text = WithoutLocations(output);
    for (size_t at = text.find("\n\033[m"); at != std::string::npos; at = text.find("\n\033[m", at + 4)) {
        text.replace(at, 4, "\033[m\n");
    }
    std::vector<std::string> messages;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        messages.push_back(line);
    }
    return messages;
}

size_t PositionOf(const std::vector<std::string> &messages, const std::string &message) {
    return static_cast<size_t>(std::find(messages.begin(), messages.end(), message) - messages.begin());
}

// Every message appears exactly once, in the given order (others may come in between).
void ExpectInOrder(const std::vector<std::string> &messages, const std::vector<std::string> &expected) {
    size_t previous = 0;
    for (size_t index = 0; index < expected.size(); ++index) {
        const size_t position = PositionOf(messages, expected[index]);
        ASSERT_LT(position, messages.size()) << "missing: " << expected[index];
        EXPECT_EQ(std::count(messages.begin(), messages.end(), expected[index]), 1) << expected[index];
        if (index > 0) {
            EXPECT_GT(position, previous) << expected[index] << " comes too early";
        }
        previous = position;
    }
}

std::vector<std::string> Numbered(const std::string &prefix) {
    std::vector<std::string> messages;
    for (int round = 0; round < 5; ++round) {
        messages.push_back(InfoLine(prefix + " " + std::to_string(round) + "."));
    }
    return messages;
}

using UnitestTest = BenchTest;

TEST_F(UnitestTest, WithoutArgumentsOrWithHelpPrintsTheUsage) {
    for (const std::vector<std::string> &arguments : {std::vector<std::string>{}, std::vector<std::string>{"-h"}}) {
        const ToolRun run = Run("unitest", arguments);
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(run.out, kUsage);
    }
}

TEST_F(UnitestTest, UnknownModuleIsNamedThenTheUsage) {
    const ToolRun run = Run("unitest", {"-m", "foo"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(WithoutLocations(run.out), ErrorLine("unsupport module 'foo'.\n") + kUsage);
}

TEST_F(UnitestTest, ThreadModuleQueriesItsThreadWhileItCounts) {
    const ToolRun run = Run("unitest", {"-m", "thread"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_GE(run.elapsed, 4500ms);
    EXPECT_LT(run.elapsed, 20000ms);

    const std::vector<std::string> messages = Messages(run.out);
    ASSERT_EQ(messages.size(), 9u) << run.out;
    EXPECT_EQ(messages.front(), InfoLine("create thread 'test' success."));
    std::vector<std::string> counting = Numbered("test");
    counting.push_back(InfoLine("'test' thread exit."));
    ExpectInOrder(messages, counting);
    ExpectInOrder(messages, {InfoLine("create thread 'test' success."), InfoLine("thread name = test.")});

    const std::string idOpening = InfoLine("thread id = ").substr(0, InfoLine("thread id = ").size() - 3);
    const auto idLine = std::find_if(messages.begin(), messages.end(),
                                     [&](const std::string &message) { return message.rfind(idOpening, 0) == 0; });
    ASSERT_NE(idLine, messages.end()) << run.out;
    const int tid = atoi(idLine->c_str() + idOpening.size());
    EXPECT_GT(tid, 0) << *idLine;
    EXPECT_EQ(*idLine, InfoLine("thread id = " + std::to_string(tid) + "."));
}

TEST_F(UnitestTest, MutexModuleHoldsTheLockForAllFiveTest2Lines) {
    const ToolRun run = Run("unitest", {"-m", "mutex"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_GE(run.elapsed, 8500ms);
    EXPECT_LT(run.elapsed, 30000ms);

    const std::vector<std::string> messages = Messages(run.out);
    ASSERT_EQ(messages.size(), 15u) << run.out;
    EXPECT_EQ(messages.front(), InfoLine("create mutex 'test' sucess."));
    std::vector<std::string> test1 = Numbered("===== test1");
    test1.push_back(InfoLine("'test1' thread exit."));
    ExpectInOrder(messages, test1);
    ExpectInOrder(messages, {InfoLine("create thread 'test1' success."), InfoLine("create thread 'test2' success.")});
    ExpectInOrder(messages, {InfoLine("create thread 'test1' success."), InfoLine("===== test1 0.")});

    // test2 prints its five lines while it holds the mutex: nothing of test1 comes between them.
    const std::vector<std::string> test2 = Numbered("###### test2");
    const size_t first = PositionOf(messages, test2.front());
    ASSERT_LE(first + test2.size(), messages.size()) << run.out;
    EXPECT_TRUE(std::equal(test2.begin(), test2.end(), messages.begin() + static_cast<long>(first))) << run.out;
    EXPECT_GT(PositionOf(messages, InfoLine("'test2' thread exit.")), first + 4);
}

TEST_F(UnitestTest, SemModuleStartsTest2ThreeSecondsLater) {
    const ToolRun run = Run("unitest", {"-m", "sem"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_GE(run.elapsed, 7500ms);
    EXPECT_LT(run.elapsed, 30000ms);

    const std::vector<std::string> messages = Messages(run.out);
    ASSERT_EQ(messages.size(), 15u) << run.out;
    EXPECT_EQ(messages.front(), InfoLine("create sem 'test' sucess."));
    std::vector<std::string> test1 = Numbered("===== test1");
    test1.push_back(InfoLine("'test1' thread exit."));
    ExpectInOrder(messages, test1);
    std::vector<std::string> test2 = Numbered("###### test2");
    test2.insert(test2.begin(), InfoLine("create thread 'test2' success."));
    test2.push_back(InfoLine("'test2' thread exit."));
    ExpectInOrder(messages, test2);
    // test1 has counted for three seconds by the time test2 exists.
    ExpectInOrder(messages, {InfoLine("===== test1 2."), InfoLine("create thread 'test2' success.")});
}

TEST_F(UnitestTest, SeveralModulesRunOneAfterTheOther) {
    const ToolRun run = Run("unitest", {"-m", "foo", "-m", "thread"});
    EXPECT_EQ(run.exitStatus, 0);
    const std::string unknown = ErrorLine("unsupport module 'foo'.\n") + kUsage;
    const std::string out = WithoutLocations(run.out);
    ASSERT_EQ(out.rfind(unknown, 0), 0u) << run.out;
    EXPECT_EQ(Messages(run.out.substr(run.out.find("\033[0;32;32m"))).size(), 9u) << run.out;
}

} // namespace
