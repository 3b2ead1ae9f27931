// Tests of the store: path joining, the device tree on disk, device searches, build lists and stored files.
#include "updater/UpdaterStore.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "app/Log.h"
#include "sim/birdtool/BirdWriter.h"
#include "tests/support/FileText.h"
#include "tests/support/ScopedLimit.h"

namespace {

TEST(BuildPath, PutsOneSeparatorBetweenEachTwoComponents)
{
    EXPECT_EQ(BuildPath("/home/user", ".tessmark", nullptr), "/home/user/.tessmark");
    EXPECT_EQ(BuildPath("/data", "updater", "0001A2B3", "1234.bird", nullptr), "/data/updater/0001A2B3/1234.bird");
    EXPECT_EQ(BuildPath("/data/", "updater", nullptr), "/data//updater");
    EXPECT_EQ(BuildPath("alone", nullptr), "alone");
    EXPECT_EQ(BuildPath("", "x", nullptr), "/x");
}

// The text of the exception the action throws; empty when it throws none.
std::string thrown(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

// Collects the lines of the DEBUG_Updater package while it lives.
class ScopedLog {
public:
    ScopedLog() : file(std::tmpfile())
    {
        Log::SetOutput(file);
        Log::ActivatePackage(DEBUG_Updater);
    }
    ~ScopedLog()
    {
        Log::DeactivatePackage(DEBUG_Updater);
        Log::SetOutput(nullptr);
        std::fclose(file);
    }
    ScopedLog(const ScopedLog&) = delete;
    ScopedLog& operator=(const ScopedLog&) = delete;

    std::string text() const
    {
        std::fflush(file);
        std::rewind(file);
        std::string read;
        for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
            read += static_cast<char>(c);
        }
        return read;
    }

private:
    FILE* file;
};

std::vector<uint8_t> birdFile(const BirdHeader& header = BirdHeader())
{
    BirdWriter writer;
    writer.AddIdentity({"1234", "2.11.5", "0001A2B3", "KS-HUB8"});
    writer.AddFirmware(0x1000, {1, 2, 3, 4, 5, 6, 7, 8});
    return writer.File(header);
}

std::string text(const std::vector<uint8_t>& bytes)
{
    return {bytes.begin(), bytes.end()};
}

class UpdaterStoreTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/UpdaterStore_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        base = pattern;
        root = base + "/updater";
    }

    void TearDown() override { std::filesystem::remove_all(base); }

    std::string at(const std::string& below) const { return root + "/" + below; }

    std::string base;
    std::string root;
};

TEST_F(UpdaterStoreTree, ConstructorMakesSureTheRootIsADirectory)
{
    const std::string nested = base + "/a/b/updater";
    EXPECT_EQ(UpdaterStore(nested.c_str()).BasePath(), nested);
    EXPECT_TRUE(std::filesystem::is_directory(nested));
    EXPECT_EQ(thrown([&] { UpdaterStore again(nested.c_str()); }), "") << "an existing root is fine";

    write(base + "/file", "x");
    const struct {
        std::string root;
        std::string error;
    } refused[] = {
        {base + "/file", "UpdaterStore: " + base + "/file exists and is a file"},
        {base + "/file/updater", "UpdaterStore: Could not create directory " + base + "/file/updater error 12"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.root);
        EXPECT_EQ(thrown([&] { UpdaterStore store(c.root.c_str()); }), c.error);
    }
    EXPECT_EQ(contents(base + "/file"), "x");
}

TEST_F(UpdaterStoreTree, AddDeviceMakesTheSerialsDirectoryWithItsSettings)
{
    const UpdaterStore store(root.c_str());
    UpdaterStoreItem device = store.AddDevice(0x1A2B3u);
    EXPECT_EQ(device.parent, root);
    EXPECT_EQ(device.name, "0001A2B3") << "eight digits, three of them leading zeros";
    EXPECT_EQ(device.itemType, STORE_ITEM_DIRECTORY);
    EXPECT_TRUE(device.IsValid());
    EXPECT_TRUE(std::filesystem::is_directory(at("0001A2B3")));
    const std::string settings = contents(at("0001A2B3/.settings"));
    EXPECT_NE(settings.find("CREATED_TIME="), std::string::npos) << settings;
    EXPECT_NE(settings.find("UPDATED_TIME="), std::string::npos) << settings;

    device.settings.Add("LATEST_DOWNLOAD", "1234.bird");
    device.settings.Save();
    const std::string saved = contents(at("0001A2B3/.settings"));
    const ScopedLog log;
    const UpdaterStoreItem again = store.AddDevice(0x1A2B3u);
    EXPECT_STREQ(again.settings["LATEST_DOWNLOAD"], "1234.bird");
    EXPECT_EQ(contents(at("0001A2B3/.settings")), saved) << "an existing device keeps its settings file";
    EXPECT_NE(log.text().find("UpdaterStore: [" + at("0001A2B3") + "] already exists.\n"), std::string::npos)
        << log.text();
}

TEST_F(UpdaterStoreTree, FindDeviceMatchesTheUpperCaseSerialOnly)
{
    const UpdaterStore store(root.c_str());
    std::filesystem::create_directory(at("0001a2b3"));
    UpdaterStoreItem item;
    EXPECT_FALSE(store.FindDevice(0x1A2B3u, &item));
    EXPECT_FALSE(item.IsValid()) << "nothing found, nothing filled";

    UpdaterStoreItem added = store.AddDevice(0x1A2B3u);
    added.settings.Add("LATEST_TRANSFER", "1240.bird");
    added.settings.Save();
    const ScopedLog log;
    ASSERT_TRUE(store.FindDevice(0x1A2B3u, &item));
    EXPECT_EQ(item.parent, root);
    EXPECT_EQ(item.name, "0001A2B3");
    EXPECT_EQ(item.itemType, STORE_ITEM_DIRECTORY);
    EXPECT_STREQ(item.settings["LATEST_TRANSFER"], "1240.bird");
    EXPECT_TRUE(store.FindDevice("0001A2B3", nullptr));
    EXPECT_NE(log.text().find("UpdaterStore: FindDevice Found 0001A2B3.\n"), std::string::npos) << log.text();
    EXPECT_FALSE(store.FindDevice(static_cast<const char*>(nullptr), &item));
}

TEST_F(UpdaterStoreTree, FileInPlaceOfADeviceDirectoryIsFoundButNotAdded)
{
    const UpdaterStore store(root.c_str());
    write(at("0001A2B3"), "not a directory");
    EXPECT_EQ(thrown([&] { store.AddDevice(0x1A2B3u); }), "UpdaterStore: " + at("0001A2B3") + " exists and is a file");

    UpdaterStoreItem item;
    ASSERT_TRUE(store.FindDevice(0x1A2B3u, &item));
    EXPECT_EQ(item.parent, root);
    EXPECT_EQ(item.name, "0001A2B3");
    EXPECT_EQ(item.itemType, STORE_ITEM_FILE);
    std::vector<UpdaterStoreItem> builds;
    EXPECT_TRUE(store.FindLocalBuilds(0x1A2B3u, builds));
    EXPECT_TRUE(builds.empty());
    EXPECT_EQ(contents(at("0001A2B3")), "not a directory");
}

TEST_F(UpdaterStoreTree, FindLocalBuildsListsTheBuildsOnly)
{
    const UpdaterStore store(root.c_str());
    const UpdaterStoreItem device = store.AddDevice(0x1A2B3u);
    write(at("0001A2B3/1234.bird"), "one");
    write(at("0001A2B3/1240.bird"), "two");
    write(at("0001A2B3/.tmp-1-0"), "left by a crash");
    std::vector<std::string> directoryOrder;
    for (const auto& entry : std::filesystem::directory_iterator(at("0001A2B3"))) {
        const std::string name = entry.path().filename().string();
        if (name[0] != '.') {
            directoryOrder.push_back(name);
        }
    }

    std::vector<UpdaterStoreItem> builds(1);
    ASSERT_TRUE(store.FindLocalBuilds(0x1A2B3u, builds));
    ASSERT_EQ(builds.size(), 3u) << "appended to what the list held";
    EXPECT_FALSE(builds[0].IsValid());
    std::vector<std::string> listed;
    for (size_t i = 1; i < builds.size(); ++i) {
        EXPECT_EQ(builds[i].parent, at("0001A2B3"));
        EXPECT_EQ(builds[i].itemType, STORE_ITEM_FILE);
        listed.push_back(builds[i].name);
    }
    EXPECT_EQ(listed, directoryOrder);
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), (std::set<std::string>{"1234.bird", "1240.bird"}));

    std::vector<UpdaterStoreItem> none;
    EXPECT_TRUE(store.FindLocalBuilds(0x99999u, none));
    EXPECT_TRUE(none.empty());
}

TEST_F(UpdaterStoreTree, RootPathHoldingASerialMatchesNoOtherDevice)
{
    const std::string rootNamedLikeADevice = base + "/0001A2B3-backup/updater";
    const UpdaterStore store(rootNamedLikeADevice.c_str());
    store.AddDevice(0x99999u);
    write(rootNamedLikeADevice + "/00099999/1.bird", "other device");

    UpdaterStoreItem item;
    EXPECT_FALSE(store.FindDevice(0x1A2B3u, &item));
    std::vector<UpdaterStoreItem> builds;
    EXPECT_TRUE(store.FindLocalBuilds(0x1A2B3u, builds));
    EXPECT_TRUE(builds.empty());

    store.AddDevice(0x1A2B3u);
    write(rootNamedLikeADevice + "/0001A2B3/2.bird", "this device");
    ASSERT_TRUE(store.FindDevice(0x1A2B3u, &item));
    EXPECT_EQ(item.name, "0001A2B3");
    ASSERT_TRUE(store.FindLocalBuilds(0x1A2B3u, builds));
    ASSERT_EQ(builds.size(), 1u);
    EXPECT_EQ(builds[0].name, "2.bird");
}

TEST_F(UpdaterStoreTree, FileExistsLooksInTheItemsDirectory)
{
    const UpdaterStore store(root.c_str());
    const UpdaterStoreItem device = store.AddDevice(0x1A2B3u);
    write(at("0001A2B3/1234.bird"), "one");
    EXPECT_TRUE(device.FileExists("1234.bird"));
    EXPECT_FALSE(device.FileExists("1240.bird"));
    EXPECT_FALSE(device.FileExists(nullptr));
}

TEST_F(UpdaterStoreTree, WriteFileReplacesTheFileAsAWhole)
{
    const UpdaterStore store(root.c_str());
    const UpdaterStoreItem device = store.AddDevice(0x1A2B3u);
    const std::string first = "the first download";
    const std::string second(600, 's');
    for (const std::string& content : {first, second}) {
        EXPECT_EQ(device.WriteFile("1234.bird", reinterpret_cast<const uint8_t*>(content.data()), content.size()),
                  aErrNone);
        EXPECT_EQ(contents(at("0001A2B3/1234.bird")), content);
    }

    const std::string third(4096, 't');
    aErr full;
    {
        const ScopedLimit limit(RLIMIT_FSIZE, 64);
        ASSERT_TRUE(limit.applied);
        full = device.WriteFile("1234.bird", reinterpret_cast<const uint8_t*>(third.data()), third.size());
    }
    EXPECT_EQ(full, aErrIO);
    EXPECT_EQ(contents(at("0001A2B3/1234.bird")), second) << "a full disk leaves the previous download whole";
    EXPECT_EQ(names(at("0001A2B3")), (std::set<std::string>{".settings", "1234.bird"}));
}

TEST_F(UpdaterStoreTree, WriteFileReportsWhatCannotBeWritten)
{
    const UpdaterStore store(root.c_str());
    const UpdaterStoreItem device = store.AddDevice(0x1A2B3u);
    const UpdaterStoreItem gone = store.AddDevice(0x99999u);
    std::filesystem::remove_all(at("00099999"));
    const uint8_t data[] = {1, 2, 3};
    const UpdaterStoreItem nothing;
    EXPECT_EQ(device.WriteFile("1234.bird", nullptr, 3), aErrNotFound);
    EXPECT_EQ(device.WriteFile(nullptr, data, sizeof data), aErrNotFound);
    EXPECT_EQ(gone.WriteFile("1234.bird", data, sizeof data), aErrNotFound);
    EXPECT_EQ(nothing.WriteFile("UpdaterStore_test-nowhere.bird", data, sizeof data), aErrNotFound);
    EXPECT_FALSE(std::filesystem::exists("/UpdaterStore_test-nowhere.bird")) << "never at the top of the file system";
    EXPECT_EQ(names(at("0001A2B3")), std::set<std::string>{".settings"});
}

TEST_F(UpdaterStoreTree, ReadBirdFileLoadsWhatWriteFileStored)
{
    const UpdaterStore store(root.c_str());
    const UpdaterStoreItem device = store.AddDevice(0x1A2B3u);
    const std::vector<uint8_t> bytes = birdFile();
    ASSERT_EQ(device.WriteFile("1234.bird", bytes.data(), bytes.size()), aErrNone);
    BirdFile bird = device.ReadBirdFile("1234.bird");
    EXPECT_EQ(bird.path, at("0001A2B3/1234.bird"));
    EXPECT_EQ(bird.GetBuild(), 1234u);
    EXPECT_TRUE(bird.ValidateModel("KS-HUB8"));
}

TEST_F(UpdaterStoreTree, ReadBirdFileRefusesABadFile)
{
    const UpdaterStore store(root.c_str());
    const UpdaterStoreItem device = store.AddDevice(0x1A2B3u);
    BirdHeader wrongSignature;
    wrongSignature.signature = {'B', 'I', 'R', 'D'};
    BirdHeader zeroVersion;
    zeroVersion.version = {0x01, 0x00};
    const struct {
        const char* name;
        bool present;
        std::string bytes;
        const char* error;
    } cases[] = {
        {"missing.bird", false, "", "Invalid bird "},
        {"empty.bird", true, "", "Invalid bird "},
        {"short.bird", true, "bird\x01", "Invalid bird "},
        {"signature.bird", true, text(birdFile(wrongSignature)), "Invalid bird "},
        {"version.bird", true, text(birdFile(zeroVersion)), "Invalid bird "},
        {"payload.bird", true, "bird\x01\x01 not a zlib stream", "Failed to load bird data"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = at(std::string("0001A2B3/") + c.name);
        if (c.present) {
            write(path, c.bytes);
        }
        const std::string expected = c.error + (std::string(c.error) == "Invalid bird " ? path : "");
        EXPECT_EQ(thrown([&] { device.ReadBirdFile(c.name); }), expected);
    }
    EXPECT_EQ(thrown([&] { device.ReadBirdFile(nullptr); }), "Invalid bird " + at("0001A2B3/"));
}

TEST(UpdaterStoreItem, DefaultNamesNothing)
{
    const UpdaterStoreItem item;
    EXPECT_FALSE(item.IsValid());
    EXPECT_EQ(item.itemType, STORE_ITEM_NONE);
    EXPECT_TRUE(item.parent.empty());
    EXPECT_TRUE(item.name.empty());
}

} // namespace
