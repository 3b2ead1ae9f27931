// Tests of settings files: the lines a hand-edited file may hold, the getters and adders, time stamps and whole-file saves.
#include "updater/KeyValueStore.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "tests/support/ScopedLimit.h"
#include "tests/support/FileText.h"

namespace {

// Every ctime text, without its line end, of the seconds from first to last.
std::set<std::string> ctimeTexts(time_t first, time_t last)
{
    std::set<std::string> texts;
    for (time_t t = first; t <= last; ++t) {
        std::string text = std::ctime(&t);
        text.pop_back();
        texts.insert(text);
    }
    return texts;
}

class KeyValueStoreFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/KeyValueStore_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
    }

    void TearDown() override { std::filesystem::remove_all(directory); }

    std::string path(const std::string& name) const { return directory + "/" + name; }

    // What a store loaded from the text holds, as Save writes it: one sorted KEY=VALUE line
    // per entry. Loading an existing file leaves the store unmodified, so no stamp is added.
    std::string loaded(const std::string& text) const
    {
        write(path("in"), text);
        KeyValueStore store(path("in").c_str());
        store.Save(path("out").c_str());
        return contents(path("out"));
    }

    std::string directory;
};

TEST_F(KeyValueStoreFile, ParsesTheLinesOfAHandEditedFile)
{
    const std::string longValue(2044, 'v');
    const struct {
        const char* what;
        std::string text;
        std::string entries;
    } cases[] = {
        {"blanks around key and value", "  SPEED =  115200  \n", "SPEED=115200\n"},
        {"tabs around key and value", "\tTAB\t=\tx\t\n", "TAB=x\n"},
        {"equals sign inside the value", "URL=a=b\n", "URL=a=b\n"},
        {"blanks inside the value stay", "K = in side  value \n", "K=in side  value\n"},
        {"carriage return removed", "K=v\r\n", "K=v\n"},
        {"last line without line end", "A=1\nK=v", "A=1\nK=v\n"},
        {"comment line", "# comment=1\nA=1\n", "A=1\n"},
        {"hash after a blank is a key", " # note=1\n", "# note=1\n"},
        {"hash inside a value", "K=#1\n", "K=#1\n"},
        {"last of a repeated key wins", "A=1\nB=2\nA=3\n", "A=3\nB=2\n"},
        {"entries in key order", "b=2\nB=1\na=3\n", "B=1\na=3\nb=2\n"},
        {"empty value", "a=\n", "a=\n"},
        {"empty key", "=x\n", "=x\n"},
        {"lines of fewer than three characters ignored", "=\n\nA=1\n==", "A=1\n"},
        {"three characters are enough", "==\n", "==\n"},
        {"line without equals sign ignored", "NOEQUALS\nB=2\n", "B=2\n"},
        {"blank line ignored", "   \n\t\t\n", ""},
        {"empty file", "", ""},
        {"zero byte ends the line's text", std::string("K=ab\0cd\nL=1\n", 12), "K=ab\nL=1\n"},
        {"bytes above 127", "K\xff=\xfe\x80\n", "K\xff=\xfe\x80\n"},
        {"longest line that fits", "K=" + longValue + "\n", "K=" + longValue + "\n"},
        {"longer line ends the reading", "A=1\nK=" + longValue + "v\nB=2\n", "A=1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(loaded(c.text), c.entries);
    }
}

TEST_F(KeyValueStoreFile, LoadAddsToWhatIsInMemory)
{
    write(path("in"), "B=file\nC=file\n");
    KeyValueStore store;
    store.Add("A", "memory");
    store.Add("B", "memory");
    store.Load(path("in").c_str());
    EXPECT_STREQ(store["A"], "memory");
    EXPECT_STREQ(store["B"], "file");
    EXPECT_STREQ(store["C"], "file");
}

TEST_F(KeyValueStoreFile, LoadingAMissingFileCreatesItWithBothStamps)
{
    const time_t before = time(nullptr);
    KeyValueStore store(path(".settings").c_str());
    const time_t after = time(nullptr);

    const std::set<std::string> now = ctimeTexts(before, after);
    ASSERT_NE(store["CREATED_TIME"], nullptr);
    ASSERT_NE(store["UPDATED_TIME"], nullptr);
    EXPECT_TRUE(now.count(store["CREATED_TIME"])) << store["CREATED_TIME"];
    EXPECT_TRUE(now.count(store["UPDATED_TIME"])) << store["UPDATED_TIME"];
    EXPECT_EQ(contents(path(".settings")), std::string("CREATED_TIME=") + store["CREATED_TIME"] + "\nUPDATED_TIME="
                                               + store["UPDATED_TIME"] + "\n");
    EXPECT_EQ(names(directory), std::set<std::string>{".settings"});
}

TEST_F(KeyValueStoreFile, SavesOnlyChangesWithANewUpdateStamp)
{
    const std::string old = "Thu Jan  1 00:00:00 1970";
    const std::string original = "A=1\nUPDATED_TIME=" + old + "\n";
    const struct {
        const char* what;
        void (*change)(KeyValueStore&);
        bool stamped;
        const char* aValue; // A after the change; null when it is gone
    } cases[] = {
        {"nothing", [](KeyValueStore&) {}, false, "1"},
        {"the same text again", [](KeyValueStore& s) { s.Add("A", "1"); }, false, "1"},
        {"the same number again", [](KeyValueStore& s) { s.Add("A", 1); }, false, "1"},
        {"a new value", [](KeyValueStore& s) { s.Add("A", 2); }, true, "2"},
        {"a new key", [](KeyValueStore& s) { s.Add("B", "x"); }, true, "1"},
        {"an empty store merged", [](KeyValueStore& s) { s.Add(KeyValueStore()); }, false, "1"},
        {"a store merged",
         [](KeyValueStore& s) {
             KeyValueStore other;
             other.Add("A", "1");
             s.Add(other);
         },
         true, "1"},
        {"cleared", [](KeyValueStore& s) { s.Clear(); }, true, nullptr},
        {"an absent key read as a number", [](KeyValueStore& s) { s.GetInt("ABSENT", 0); }, false, "1"},
        {"a null key", [](KeyValueStore& s) { s.Add(nullptr, "x"); }, false, "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write(path("s"), original);
        KeyValueStore store(path("s").c_str());
        c.change(store);
        const time_t before = time(nullptr);
        store.Save();
        const time_t after = time(nullptr);
        KeyValueStore saved(path("s").c_str());
        EXPECT_EQ(saved["A"] == nullptr, c.aValue == nullptr);
        if (c.aValue != nullptr && saved["A"] != nullptr) {
            EXPECT_STREQ(saved["A"], c.aValue);
        }
        ASSERT_NE(saved["UPDATED_TIME"], nullptr);
        if (c.stamped) {
            EXPECT_TRUE(ctimeTexts(before, after).count(saved["UPDATED_TIME"])) << saved["UPDATED_TIME"];
        } else {
            EXPECT_EQ(saved["UPDATED_TIME"], old);
        }
    }
}

TEST_F(KeyValueStoreFile, AbsentKeyReadAsANumberIsSavedEmpty)
{
    KeyValueStore store;
    EXPECT_EQ(store.GetInt("ABSENT", 7), 7);
    EXPECT_STREQ(store["ABSENT"], "");
    EXPECT_EQ(store.GetString("NOPE", "fallback"), "fallback");
    EXPECT_EQ(store.GetString("NOPE", nullptr), "");
    EXPECT_EQ(store["NOPE"], nullptr) << "GetString and operator[] never insert";
    store.Add("SET", 1);
    store.Save(path("s").c_str());
    const std::string saved = contents(path("s"));
    EXPECT_NE(saved.find("ABSENT=\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("NOPE"), std::string::npos) << saved;
}

TEST(KeyValueStore, GettersReadTheValueLikeTheCConversions)
{
    const struct {
        const char* value;
        int asInt;
        unsigned asHex;
        bool asBool;
        double asDouble;
    } cases[] = {
        {"1234.bird", 1234, 0x1234, true, 1234.0},
        {"/tmp/x.bird", 0, 0, false, 0.0},
        {"0x1F", 0, 0x1F, false, 31.0},
        {"1f", 1, 0x1F, true, 1.0},
        {"  42", 42, 0x42, true, 42.0},
        {"-5", -5, static_cast<unsigned>(-5), true, -5.0},
        {"2.5", 2, 0x2, true, 2.5},
        {"yes", 0, 0, false, 0.0},
        {"99999999999999999999", INT_MAX, UINT_MAX, true, 1e20},
        {"-99999999999999999999", INT_MIN, UINT_MAX, true, -1e20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        KeyValueStore store;
        store.Add("K", c.value);
        EXPECT_EQ(store.GetInt("K", 77), c.asInt);
        EXPECT_EQ(store.GetHex("K", 77), c.asHex);
        EXPECT_EQ(store.GetBOOL("K", true), c.asBool);
        EXPECT_DOUBLE_EQ(store.GetDouble("K", 77.0), c.asDouble);
        EXPECT_EQ(store.GetString("K", "default"), c.value);
    }
}

TEST(KeyValueStore, EmptyOrAbsentValueGivesTheDefault)
{
    KeyValueStore store;
    store.Add("EMPTY", "");
    for (const char* key : {"EMPTY", "ABSENT", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(key != nullptr ? key : "null key");
        EXPECT_EQ(store.GetInt(key, 77), 77);
        EXPECT_EQ(store.GetHex(key, 0xABCu), 0xABCu);
        EXPECT_TRUE(store.GetBOOL(key, true));
        EXPECT_FALSE(store.GetBOOL(key, false));
        EXPECT_DOUBLE_EQ(store.GetDouble(key, 7.5), 7.5);
    }
    EXPECT_EQ(store.GetString("EMPTY", "default"), "") << "an existing empty value is the value";
}

TEST(KeyValueStore, AddersFormatTheirValues)
{
    KeyValueStore store;
    EXPECT_TRUE(store.Add("INT", -12));
    EXPECT_TRUE(store.Add("DOUBLE", 2.5));
    EXPECT_TRUE(store.AddHex("HEX", 0x1A2Bu));
    EXPECT_TRUE(store.Add("TEXT", "a text"));
    EXPECT_TRUE(store.Add("STRING", std::string("a string")));
    EXPECT_STREQ(store["INT"], "-12");
    EXPECT_STREQ(store["DOUBLE"], "2.500000");
    EXPECT_STREQ(store["HEX"], "0x00001A2B");
    EXPECT_STREQ(store["TEXT"], "a text");
    EXPECT_STREQ(store["STRING"], "a string");
    EXPECT_EQ(store.GetHex("HEX", 0), 0x1A2Bu);
    EXPECT_FALSE(store.Add("TEXT", static_cast<const char*>(nullptr)));
    EXPECT_STREQ(store["TEXT"], "a text");
    EXPECT_EQ(store[nullptr], nullptr);
}

TEST_F(KeyValueStoreFile, SaveAndLoadGiveBackEveryEntry)
{
    KeyValueStore store;
    store.Add("LATEST_DOWNLOAD", "1234.bird");
    store.Add("LATEST_TRANSFER", "/home/user/my firmware=v2.bird");
    store.Add("COUNT", 3);
    store.AddHex("SERIAL", 0xDEADBEEF);
    store.Save(path("s").c_str());
    store.Add("AFTER", "not saved");

    KeyValueStore loaded(path("s").c_str());
    for (const char* key : {"LATEST_DOWNLOAD", "LATEST_TRANSFER", "COUNT", "SERIAL", "UPDATED_TIME"}) {
        SCOPED_TRACE(key);
        ASSERT_NE(loaded[key], nullptr);
        EXPECT_STREQ(loaded[key], store[key]);
    }
    EXPECT_EQ(loaded["AFTER"], nullptr);
    EXPECT_EQ(loaded["CREATED_TIME"], nullptr) << "only a missing file gets a creation stamp";
    EXPECT_EQ(loaded.GetHex("SERIAL", 0), 0xDEADBEEFu);
}

TEST_F(KeyValueStoreFile, SaveWithoutANameUsesTheLastOneElseTheWorkingDirectory)
{
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(directory);
    KeyValueStore store;
    store.Add("A", 1);
    store.Save();
    std::filesystem::current_path(previous);
    EXPECT_NE(contents(path(".settings")).find("A=1\n"), std::string::npos);

    KeyValueStore named;
    named.Save(path("named").c_str());
    named.Add("B", 2);
    named.Save();
    EXPECT_NE(contents(path("named")).find("B=2\n"), std::string::npos);
}

TEST_F(KeyValueStoreFile, FailedSaveLeavesTheOldFileAndTheStoreModified)
{
    const std::string old = "A=old\nUPDATED_TIME=Thu Jan  1 00:00:00 1970\n";
    const struct {
        const char* what;
        int resource;
        rlim_t limit;
    } cases[] = {
        {"the new file cannot be created", RLIMIT_NOFILE, openHandleCount()},
        {"the disk is full after a few bytes", RLIMIT_FSIZE, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write(path("s"), old);
        KeyValueStore store(path("s").c_str());
        store.Add("A", std::string(256, 'n'));
        {
            ScopedLimit limit(c.resource, c.limit);
            ASSERT_TRUE(limit.applied);
            store.Save();
        }
        EXPECT_EQ(contents(path("s")), old);
        EXPECT_EQ(names(directory), std::set<std::string>{"s"}) << "no temporary file is left behind";

        store.Save();
        KeyValueStore saved(path("s").c_str());
        EXPECT_EQ(saved.GetString("A", ""), std::string(256, 'n'));
        EXPECT_STRNE(saved["UPDATED_TIME"], "Thu Jan  1 00:00:00 1970") << "still modified, so stamped";
    }
}

TEST_F(KeyValueStoreFile, CopiesCarryEntriesAndFileName)
{
    KeyValueStore store;
    store.Add("A", 1);
    store.Save(path("s").c_str());
    KeyValueStore copy = store;
    copy.Add("B", 2);
    copy.Save();
    EXPECT_EQ(store["B"], nullptr);
    EXPECT_NE(contents(path("s")).find("B=2\n"), std::string::npos);
}

} // namespace
