// The command line: gzip-style bundled options, defaults, and the usage
// errors that end with status 2.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
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

TEST(CommandLine, UsageErrorsExitWithTwoAndSayWhyInTheToolsWords) {
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const std::vector<Case> wrong = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-dx"}, "unknown option '-x'"},
        {{"-T", "many"}, "-T: 'many' is not a number of threads from 0 to 256"},
        {{"--threads=257"}, "--threads: '257' is not a number of threads"},
        {{"-T"}, "-T needs a value"},
        {{"-T", "-1"}, "-T: '-1' is not a number of threads"},
        {{"--variant", "3"}, "--variant: '3' is not a variant: 0 or 5"},
        {{"--segment-size", "1K"}, "--segment-size: '1K' is not a size from 4K to 64M"},
        {{"--segment-size=65M"}, "is not a size from 4K to 64M"},
        {{"--segment-size", "12Q"}, "is not a size from 4K to 64M"},
        {{"--memory=0"}, "--memory: '0' is not a size"},
        {{"--rm=yes"}, "--rm takes no value"},
        {{"-o", ""}, "-o: the file name is empty"},
        {{"-t", "-l"}, "-t and -l cannot be combined"},
        {{"-z", "-d"}, "-z cannot be combined with -d"},
        {{"-o", "x", "a", "b"}, "-o takes a single input file"},
        {{"-o", "x", "-r", "dir"}, "-r goes through directories"},
        {{"-o", "x", "-c", "a"}, "-o and -c cannot be combined"},
        {{"-o", "x", "-t", "a"}, "-o makes no sense with -t or -l"},
        {{"-k", "--rm"}, "-k and --rm cannot be combined"},
        {{"-v", "-q"}, "-v and -q cannot be combined"},
        {{"--progress", "--no-progress"}, "cannot be combined"},
        {{"-", "-"}, "standard input ('-') can be named only once"},
    };
    for (const auto& [args, says] : wrong) {
        const Parsed parsed = parse(args);
        EXPECT_FALSE(parsed.result.options.has_value()) << args.front();
        EXPECT_EQ(parsed.result.exitStatus, kExitUsage) << args.front();
        EXPECT_EQ(parsed.err.rfind("tavrine: ", 0), 0u) << parsed.err;
        EXPECT_NE(parsed.err.find(says), std::string::npos) << parsed.err;
        EXPECT_NE(parsed.err.find("Try 'tavrine --help'"), std::string::npos) << parsed.err;
    }
}

TEST(CommandLine, LevelOptionsAreAcceptedAndChangeNothing) {
    const ToolOptions plain = options(parse({"-c", "a"}));
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-1", "-c", "a"}, {"-9c", "a"}, {"-c9", "a"}, {"--fast", "-c", "a"}, {"--best", "-c", "a"},
             {"-c", "-19", "a"}}) {
        const ToolOptions o = options(parse(args));
        EXPECT_EQ(o.files, plain.files) << args.front();
        EXPECT_EQ(o.variant, plain.variant) << args.front();
        EXPECT_EQ(o.segmentSize, plain.segmentSize) << args.front();
        EXPECT_TRUE(o.toStdout) << args.front();
    }
    // A file named like a level, after '--'.
    EXPECT_EQ(options(parse({"--", "-9"})).files, std::vector<std::string>{"-9"});
}

TEST(CommandLine, RecursionMemoryAndValuesInEveryForm) {
    EXPECT_TRUE(options(parse({"-r", "dir"})).recursive);
    EXPECT_TRUE(options(parse({"--recursive", "dir"})).recursive);
    EXPECT_EQ(options(parse({"--memory=512M"})).memoryLimit, 512u << 20);
    EXPECT_EQ(options(parse({"--memory", "2G"})).memoryLimit, std::uint64_t{2} << 30);
    EXPECT_EQ(options(parse({})).memoryLimit, kDefaultMemoryLimit);
    EXPECT_EQ(options(parse({"-ofile"})).output, "file");
    EXPECT_EQ(options(parse({"--output=file"})).output, "file");
}

TEST(CommandLine, HelpAndVersionExitWithZero) {
    const Parsed help = parse({"-h"});
    EXPECT_FALSE(help.result.options.has_value());
    EXPECT_EQ(help.result.exitStatus, kExitSuccess);
    EXPECT_NE(help.out.find("--threads"), std::string::npos);
    EXPECT_EQ(parse({"-d", "--help", "--bogus"}).out, help.out) << "--help ends the parsing";
    // Written for people: plain ASCII in 79 columns, and every long option it
    // names is one the parser takes.
    std::istringstream lines(help.out);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 79u) << line;
        EXPECT_TRUE(std::all_of(line.begin(), line.end(), [](char c) { return c >= ' ' && c <= '~'; })) << line;
        for (std::size_t at = line.find("--"); at != std::string::npos; at = line.find("--", at + 2)) {
            std::size_t end = at + 2;
            while (end < line.size() && (std::isalnum(static_cast<unsigned char>(line[end])) != 0 || line[end] == '-')) ++end;
            const std::string option = line.substr(at, end - at);
            if (option == "--help") continue;
            const Parsed parsed = parse({option});
            EXPECT_EQ(parsed.err.find("unknown option"), std::string::npos) << option;
        }
    }
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
    EXPECT_EQ(parseSize("3GiB"), std::uint64_t{3} << 30);
    EXPECT_EQ(parseSize("17179869183G"), std::uint64_t{17179869183} << 30);
    EXPECT_FALSE(parseSize("17179869184G")) << "past 2^64 - 1";
    EXPECT_FALSE(parseSize("1T"));
    EXPECT_FALSE(parseSize("99999999999999999999"));
}

}  // namespace
}  // namespace tavrine::tool
