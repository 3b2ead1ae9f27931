// Tests of the option matcher: prefixes, one-letter options, arguments and the four outcomes.
#include "app/OptionParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const OptionSpec kTable[] = {
    {1, "-D", OptionArgument::None},       {1, "-OVERRIDE", OptionArgument::None},
    {1, "-OPTION", OptionArgument::None},  {2, "-d", OptionArgument::Required},
    {2, "-o", OptionArgument::Required},   {0, "-h", OptionArgument::None},
    {0, "--help", OptionArgument::None},   {-1, nullptr, OptionArgument::None},
};

struct Yield {
    std::string name;
    std::string text;
    std::string argument;
    OptionError error;
};

std::vector<Yield> Parse(std::vector<const char*> words)
{
    words.insert(words.begin(), "prog");
    OptionParser parser(static_cast<int>(words.size()), words.data(), kTable);
    std::vector<Yield> yields;
    ParsedOption option;
    while (parser.Next(option)) {
        yields.push_back({option.name, option.text, option.argument, option.error});
    }
    return yields;
}

struct Case {
    const char* label;
    std::vector<const char*> words;
    std::vector<Yield> expected;
};

const std::vector<Case> kCases = {
    {"exact flag", {"-D"}, {{"-D", "-D", "", OptionError::None}}},
    {"unique prefix stands for the long option", {"-OV"}, {{"-OVERRIDE", "-OV", "", OptionError::None}}},
    {"shared prefix is unknown", {"-O"}, {{"", "-O", "", OptionError::UnknownOption}}},
    {"double-hyphen prefix", {"--he"}, {{"--help", "--he", "", OptionError::None}}},
    {"hyphens must agree", {"--OVERRIDE"}, {{"", "--OVERRIDE", "", OptionError::UnknownOption}}},
    {"one-letter options match only in full", {"-he"}, {{"", "-he", "", OptionError::UnknownOption}}},
    {"case matters", {"-H"}, {{"", "-H", "", OptionError::UnknownOption}}},
    {"longer than the option", {"-OVERRIDEX"}, {{"", "-OVERRIDEX", "", OptionError::UnknownOption}}},
    {"argument from the next word", {"-d", "40F5849A"}, {{"-d", "-d", "40F5849A", OptionError::None}}},
    {"argument after equals", {"-d=40F5849A"}, {{"-d", "-d", "40F5849A", OptionError::None}}},
    {"empty argument after equals", {"-d="}, {{"-d", "-d", "", OptionError::None}}},
    {"equals on a flag", {"-D=1"}, {{"-D", "-D", "", OptionError::UnexpectedArgument}}},
    {"argument missing at the end", {"-D", "-d"},
     {{"-D", "-D", "", OptionError::None}, {"-d", "-d", "", OptionError::MissingArgument}}},
    {"an option word is never an argument", {"-d", "-D"},
     {{"-d", "-d", "", OptionError::MissingArgument}, {"-D", "-D", "", OptionError::None}}},
    {"plain words are skipped", {"file", "-D", "-", "--", "more"}, {{"-D", "-D", "", OptionError::None}}},
    {"argument words are not read as options", {"-o", "115200", "-D"},
     {{"-o", "-o", "115200", OptionError::None}, {"-D", "-D", "", OptionError::None}}},
};

TEST(OptionParser, MatchesWordsAgainstTheTable)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.label);
        const std::vector<Yield> got = Parse(c.words);
        ASSERT_EQ(got.size(), c.expected.size());
        for (size_t i = 0; i < got.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(got[i].name, c.expected[i].name);
            EXPECT_EQ(got[i].text, c.expected[i].text);
            EXPECT_EQ(got[i].argument, c.expected[i].argument);
            EXPECT_EQ(got[i].error, c.expected[i].error);
        }
    }
}

TEST(OptionParser, EndsWithoutTouchingTheLastOption)
{
    const char* words[] = {"prog", "-D"};
    OptionParser parser(2, words, kTable);
    ParsedOption option;
    ASSERT_TRUE(parser.Next(option));
    ASSERT_FALSE(parser.Next(option));
    EXPECT_EQ(option.name, "-D");
}

} // namespace
