// binmerge in the sandbox's working directory: the merged image it leaves, read back as the A/B upgrade
// reads it, and what a failed run leaves.
#include <ctime>
#include <fstream>
#include <sys/stat.h>

#include "bench_fixture.h"
#include "console_lines.h"
#include "tarn_merged_image.h"

namespace {

using namespace bench_test;

const char kUsage[] = "usage: \n| \n-- -f, fixed head \n-- -v, release version \n-- -u, uboot bin file \n"
                      "-- -k, kernel bin file \n-- -r, rootfs bin file \n-- -p, appfs bin file \n-- -h, this usage \n"
                      "eg: binmerge -f orvox -v [ver] -u [file] -k [file] -r [file] -p [file] \n"
                      "    binmerge -h \n";

std::string UtcDate() {
    const time_t now = time(nullptr);
    struct tm date {};
    gmtime_r(&now, &date);
    char text[16];
    strftime(text, sizeof text, "%Y%m%d", &date);
    return text;
}

std::vector<uint8_t> Bytes(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t index = 0; index < size; ++index) {
        bytes[index] = static_cast<uint8_t>(index * seed + seed);
    }
    return bytes;
}

class BinmergeTest : public BenchTest {
protected:
    void SetUp() override {
        BenchTest::SetUp();
        day_ = UtcDate();
    }
    // The name a merge announced, checked to carry the date of a day the test ran on (UTC).
    std::string AnnouncedOutput(const ToolRun &run, const std::string &version = "2.1") {
        const std::string text = WithoutLocations(run.out);
        const std::string before = "\033[0;32;32m [tarn] generate merge file: ";
        const size_t end = text.rfind(".\n");
        if (text.compare(0, before.size(), before) != 0 || end == std::string::npos || end < before.size()) {
            ADD_FAILURE() << "no merge file announced: " << text;
            return "";
        }
        const std::string name = text.substr(before.size(), end - before.size());
        EXPECT_TRUE(name == Output(version, day_) || name == Output(version, UtcDate())) << name;
        EXPECT_EQ(text, InfoLine("generate merge file: " + name + ".\n"));
        return name;
    }
    std::string Output(const std::string &version, const std::string &day) {
        return "orvox_v" + version + "_" + day + ".img";
    }
    const std::string &Day() const { return day_; }
    std::vector<uint8_t> ReadOutput(const std::string &name) {
        std::ifstream file(Bench().WorkDirectory() + "/" + name, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
    }
    int FilesInWorkDirectory() {
        return system(("test $(ls -A '" + Bench().WorkDirectory() + "' | wc -l) -eq 0").c_str()) == 0 ? 0 : 1;
    }

private:
    std::string day_;
};

TEST_F(BinmergeTest, MergedImageReadsBackAndARerunReplacesIt) {
    PlaceFile("u-boot.bin", Bytes(3000, 3));
    PlaceFile("kernel.bin", Bytes(70001, 5));
    PlaceFile("rootfs.bin", Bytes(1, 7));
    PlaceFile("appfs.bin", Bytes(4096, 11));
    const std::vector<std::string> arguments = {"-p", "appfs.bin", "-f", "orvox",      "-u", "u-boot.bin",
                                                "-v", "2.1",       "-k", "kernel.bin", "-r", "rootfs.bin"};
    ToolRun run = Run("binmerge", arguments);
    EXPECT_EQ(run.exitStatus, 0);
    run = Run("binmerge", arguments);
    EXPECT_EQ(run.exitStatus, 0);
    const std::string name = AnnouncedOutput(run);

    const std::vector<uint8_t> image = ReadOutput(name);
    MergedComponent components[kMergedComponentCount];
    const MergedWalk walk = Merged_Walk(image.data(), image.size(), components, kMergedComponentCount);
    EXPECT_EQ(walk.status, MergedStatus::Ok);
    ASSERT_EQ(walk.count, 4) << "a rerun replaces the file, it does not append";
    const size_t sizes[] = {3000, 70001, 1, 4096};
    for (int type = 0; type < kMergedComponentCount; ++type) {
        EXPECT_EQ(components[type].head.type, type);
        EXPECT_EQ(components[type].head.size, sizes[type]);
    }
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + static_cast<long>(components[1].offset),
                                   image.begin() + static_cast<long>(components[1].offset + 70001)),
              Bytes(70001, 5));

    struct stat status {};
    ASSERT_EQ(stat((Bench().WorkDirectory() + "/" + name).c_str(), &status), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);
}

TEST_F(BinmergeTest, FailedRunLeavesNoFileAndAnOlderOneUntouched) {
    PlaceFile("u-boot.bin", Bytes(100, 3));
    PlaceFile("empty.bin", {});
    const std::string name = Output("3", Day());
    const std::vector<uint8_t> older = Bytes(10, 1);
    PlaceFile(name, older);

    ToolRun run = Run("binmerge", {"-f", "orvox", "-v", "3", "-u", "u-boot.bin", "-r", "missing.bin"});
    EXPECT_EQ(run.exitStatus, 255);
    EXPECT_EQ(WithoutLocations(run.out), SyserrLine("open", "No such file or directory") +
                                             ErrorLine("merge rootfs fail.\n") + ErrorLine("bin merge fail.\n"));
    run = Run("binmerge", {"-f", "orvox", "-v", "3", "-u", "u-boot.bin", "-p", "empty.bin"});
    EXPECT_EQ(WithoutLocations(run.out),
              ErrorLine("file is empty.\n") + ErrorLine("merge appfs fail.\n") + ErrorLine("bin merge fail.\n"));
    EXPECT_EQ(ReadOutput(name), older);
    EXPECT_EQ(system(("test $(ls '" + Bench().WorkDirectory() + "' | wc -l) -eq 3").c_str()), 0)
        << "no temporary file is left behind";
}

TEST_F(BinmergeTest, MissingOptionsAndNoComponents) {
    ToolRun run = Run("binmerge", {"-f", "orvox", "-u", "x"});
    EXPECT_EQ(run.exitStatus, 255);
    EXPECT_EQ(WithoutLocations(run.out),
              ErrorLine("need to assign release version.\n") + kUsage + ErrorLine("bin merge fail.\n"));
    run = Run("binmerge", {"-v", "1"});
    EXPECT_EQ(WithoutLocations(run.out),
              ErrorLine("need to assign fixed head.\n") + kUsage + ErrorLine("bin merge fail.\n"));
    run = Run("binmerge");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, kUsage);

    // Nothing to merge: the name is announced, nothing is made.
    run = Run("binmerge", {"-f", "orvox", "-v", "2.1"});
    EXPECT_EQ(run.exitStatus, 0);
    AnnouncedOutput(run);
    EXPECT_EQ(FilesInWorkDirectory(), 0);
}

} // namespace
