// The command line: gzip-style bundled options, defaults, and the usage
// errors that end with status 2.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "options.h"
#include "tvr_format.h"

namespace tavrine::tool {
namespace {

struct Parsed {
    CommandLine result;
    std::string out;
    std::string err;
};

Parsed parse(std::vector<std::string> args, const std::string& program = "tavrine") {
    args.insert(args.begin(), program);
    std::vector<const char*> argv;
    argv.reserve(args.size());
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out;
    std::ostringstream err;
    Parsed parsed;
    parsed.result = parseCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
    parsed.out = out.str();
    parsed.err = err.str();
    return parsed;
}

ToolOptions options(const Parsed& parsed) {
    EXPECT_TRUE(parsed.result.options.has_value()) << parsed.err;
    return parsed.result.options.value_or(ToolOptions{});
}

TEST(CommandLine, DefaultsCompressKeepingSourcesOnAllCores) {
    const Parsed parsed = parse({"a.txt"});
    const ToolOptions o = options(parsed);
    EXPECT_EQ(o.mode, Mode::compress);
    EXPECT_FALSE(o.removeSource);
    EXPECT_FALSE(o.toStdout);
    EXPECT_EQ(o.variant, 5);
    EXPECT_EQ(o.segmentSize, kDefaultSegmentSize);
    // All cores this process may use, as -T0 says.
    EXPECT_GE(o.threads, 1u);
    EXPECT_LE(o.threads, std::max(1u, std::thread::hardware_concurrency()));
    EXPECT_EQ(o.threads, options(parse({"-T0"})).threads);
    EXPECT_FALSE(o.progress.has_value());
    EXPECT_EQ(o.files, std::vector<std::string>{"a.txt"});
}

TEST(CommandLine, BundledShortOptionsAsGzipTakesThem) {
    const ToolOptions dc = options(parse({"-dc", "x.tvr"}));
    EXPECT_EQ(dc.mode, Mode::decompress);
    EXPECT_TRUE(dc.toStdout);
    const ToolOptions kf = options(parse({"-kfT2", "a", "b"}));
    EXPECT_TRUE(kf.force);
    EXPECT_EQ(kf.threads, 2u);
    EXPECT_EQ(kf.files.size(), 2u);
    EXPECT_EQ(options(parse({"-T", "3"})).threads, 3u);
    EXPECT_EQ(options(parse({"--threads=1"})).threads, 1u);
    EXPECT_EQ(options(parse({"-dt"})).mode, Mode::test);
    EXPECT_EQ(options(parse({"-l", "x.tvr"})).mode, Mode::list);
    EXPECT_EQ(options(parse({"-", "--", "-odd-name"})).files, (std::vector<std::string>{"-", "-odd-name"}));
}

TEST(CommandLine, InvokedAsUntavrineItDecompresses) {
    EXPECT_EQ(options(parse({"x.tvr"}, "/usr/bin/untavrine")).mode, Mode::decompress);
    EXPECT_EQ(options(parse({"-z", "x"}, "untavrine")).mode, Mode::compress);
}

TEST(CommandLine, ValuesAndSwitches) {
    const ToolOptions o = options(parse({"--variant", "0", "--segment-size", "64K", "--rm", "--raw", "-v",
                                          "--no-progress", "-o", "out.tvr", "in"}));
    EXPECT_EQ(o.variant, 0);
    EXPECT_EQ(o.segmentSize, 64u << 10);
    EXPECT_TRUE(o.removeSource);
    EXPECT_TRUE(o.raw);
    EXPECT_TRUE(o.verbose);
    EXPECT_EQ(o.progress, false);
    EXPECT_EQ(o.output, "out.tvr");
    EXPECT_EQ(options(parse({"--progress"})).progress, true);
    EXPECT_EQ(options(parse({"--segment-size", "64MiB"})).segmentSize, 64u << 20);
}

TEST(CommandLine, UsageErrorsExitWithTwoAndSayWhy) {
    const std::vector<std::vector<std::string>> wrong = {
        {"--bogus"},         {"-x"},
        {"-T", "many"},      {"-T", "257"},
        {"--variant", "3"},  {"--segment-size", "1K"},
        {"--segment-size", "65M"}, {"--segment-size", "12Q"},
        {"-t", "-l"},        {"-z", "-d"},
        {"-o", "x", "a", "b"}, {"-o", "x", "-c", "a"},
        {"-o", "x", "-t", "a"}, {"-k", "--rm"},
        {"-v", "-q"},        {"--progress", "--no-progress"},
        {"-", "-"},
    };
    for (const auto& args : wrong) {
        const Parsed parsed = parse(args);
        EXPECT_FALSE(parsed.result.options.has_value()) << args.front();
        EXPECT_EQ(parsed.result.exitStatus, kExitUsage) << args.front();
        EXPECT_NE(parsed.err.find("--help"), std::string::npos) << parsed.err;
    }
}

TEST(CommandLine, HelpAndVersionExitWithZero) {
    const Parsed help = parse({"-h"});
    EXPECT_FALSE(help.result.options.has_value());
    EXPECT_EQ(help.result.exitStatus, kExitSuccess);
    EXPECT_NE(help.out.find("--threads"), std::string::npos);
    const Parsed version = parse({"-V"});
    EXPECT_FALSE(version.result.options.has_value());
    EXPECT_EQ(version.result.exitStatus, kExitSuccess);
    EXPECT_NE(version.out.find("codec interface version 0x007D84A0"), std::string::npos) << version.out;
    EXPECT_NE(version.out.find(".tvr format 1"), std::string::npos);
}

TEST(CommandLine, SizesTakeBinarySuffixes) {
    EXPECT_EQ(parseSize("4096"), 4096u);
    EXPECT_EQ(parseSize("4k"), 4096u);
    EXPECT_EQ(parseSize("2M"), 2u << 20);
    EXPECT_EQ(parseSize("3KiB"), 3u << 10);
    EXPECT_FALSE(parseSize(""));
    EXPECT_FALSE(parseSize("M"));
    EXPECT_FALSE(parseSize("-1"));
    EXPECT_FALSE(parseSize("1G"));
    EXPECT_FALSE(parseSize("99999999999999"));
}

}  // namespace
}  // namespace tavrine::tool
