// File handling: temporary names within the name length limit (the fallback
// where a file system has no unnamed files, which the end-to-end tests cannot
// reach), and --rm's refusal of a file that is no longer the one that was
// read, or that changed.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "byte_io.h"
#include "file_ops.h"

namespace tavrine::tool {
namespace {

namespace fs = std::filesystem;

// A fresh directory, removed with everything in it at the end.
class ScratchDirectory {
public:
    ScratchDirectory() {
        std::string pattern = (fs::temp_directory_path() / "tavrine-file-ops-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no scratch directory");
        path_ = pattern;
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void writeText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string readText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(TemporaryName, StaysHiddenAndWithinTheLimitForAnyTargetName) {
    for (const std::size_t nameMax : {std::size_t{255}, std::size_t{14}}) {
        for (std::size_t length = 1; length <= nameMax; ++length) {
            const std::string name = temporaryName(std::string(length, 'n'), "XXXXXX", nameMax);
            EXPECT_LE(name.size(), nameMax) << length;
            EXPECT_EQ(name.front(), '.');
            EXPECT_EQ(name.substr(name.size() - 7), ".XXXXXX");
        }
    }
    EXPECT_EQ(temporaryName("notes.tvr", "abc123", 255), ".notes.tvr.abc123");
}

TEST(RemoveIfUnchanged, RemovesOnlyTheFileThatWasRead) {
    ScratchDirectory dir;
    const std::string path = dir / "source";
    writeText(path, "read");
    InputFile replaced = openInput(path);
    writeText(dir / "newer", "newer");
    fs::rename(dir / "newer", path);
    const auto refusal = removeIfUnchanged(path, replaced);
    ASSERT_TRUE(refusal.has_value());
    EXPECT_NE(refusal->find("was replaced while it was read"), std::string::npos) << *refusal;
    EXPECT_EQ(readText(path), "newer");

    InputFile unchanged = openInput(path);
    EXPECT_FALSE(changeWhileRead(unchanged, 5).has_value());
    EXPECT_FALSE(removeIfUnchanged(path, unchanged).has_value());
    EXPECT_FALSE(fs::exists(path));
}

TEST(ChangeWhileRead, ReportsGrowthAndShortReads) {
    ScratchDirectory dir;
    const std::string path = dir / "growing";
    writeText(path, "12345");
    InputFile input = openInput(path);
    EXPECT_TRUE(changeWhileRead(input, 4).has_value()) << "fewer bytes read than the file held";
    std::ofstream(path, std::ios::app) << "678";
    const auto change = changeWhileRead(input, 8);
    ASSERT_TRUE(change.has_value());
    EXPECT_NE(change->find("5 bytes when opened, 8 read, 8 now"), std::string::npos) << *change;
    EXPECT_TRUE(removeIfUnchanged(path, input).has_value());
    EXPECT_TRUE(fs::exists(path));
}

}  // namespace
}  // namespace tavrine::tool
