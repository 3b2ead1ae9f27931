// UpdaterStore: paths, device directories, searches and stored files of the local store.
#include "updater/UpdaterStore.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <stdexcept>
#include <string_view>

#include "Kestrelon2/common/aDirectory.h"
#include "Kestrelon2/unix/unix_file.h"
#include "app/Log.h"

static constexpr uint32_t _DIRECTORY_MODE = 0755;

// State of one device search, handed through the listing to _find_item.
struct result_t {
    bool found = false;
    std::string name;
    UpdaterStoreItem* item = nullptr;
};

// What _find_items appends to: the device directory and the list of its entries.
struct _local_builds_t {
    std::string directory;
    std::vector<UpdaterStoreItem>* items;
};

std::string BuildPath(const char* first, ...)
{
    std::string path = first != nullptr ? first : "";
    va_list components;
    va_start(components, first);
    for (const char* next = va_arg(components, const char*); next != nullptr; next = va_arg(components, const char*)) {
        path += "/";
        path += next;
    }
    va_end(components);
    return path;
}

static std::string _serial_name(unsigned serial)
{
    char name[16];
    snprintf(name, sizeof name, "%08X", serial);
    return name;
}

// The log lines print sizes with %d; a file beyond that shows the largest int, not a negative.
static int _log_size(uint64_t size)
{
    return size > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

// Where the entry's own name starts: after the last separator of its path.
static size_t _name_start(std::string_view path)
{
    const size_t separator = path.rfind(aDIR_PATH_SEP[0]);
    return separator == std::string_view::npos ? 0 : separator + 1;
}

static void _ensure_directory(const std::string& path)
{
    if (aDirectory_Exists(path.c_str())) {
        Log::log(DEBUG_Updater, "UpdaterStore: [%s] already exists.\n", path.c_str());
        return;
    }
    if (aFile_Exists(path.c_str())) {
        throw std::runtime_error("UpdaterStore: " + path + " exists and is a file");
    }
    const aErr result = aDirectory_Ensure(path.c_str(), _DIRECTORY_MODE);
    if (result != aErrNone) {
        throw std::runtime_error("UpdaterStore: Could not create directory " + path + " error "
                                 + std::to_string(static_cast<unsigned>(result)));
    }
    Log::log(DEBUG_Updater, "UpdaterStore: Created directory [%s].\n", path.c_str());
}

// Matches the entry's own name, not its path: the directories above the store may hold any text,
// a serial number included, and would otherwise match every entry.
static bool _find_item(const aDirectoryListData* entry, void* context)
{
    auto* result = static_cast<result_t*>(context);
    Log::log(DEBUG_Updater, "%s([%s], %d, %d) searching for %s\n", "_find_item", entry->path,
             entry->isDirectory ? 1 : 0, _log_size(entry->size), result->name.c_str());
    const std::string_view path = entry->path;
    const size_t start = _name_start(path);
    const std::string_view name = path.substr(start);
    if (name == "." || name == ".." || name.find(result->name) == std::string_view::npos) {
        return true;
    }
    result->found = true;
    if (result->item != nullptr) {
        // An entry of "/" keeps "/" as its parent rather than an empty one.
        const std::string parent(path.substr(0, start > 1 ? start - 1 : start));
        *result->item =
            UpdaterStoreItem(parent, std::string(name), entry->isDirectory ? STORE_ITEM_DIRECTORY : STORE_ITEM_FILE);
    }
    return false;
}

static bool _find_items(const aDirectoryListData* entry, void* context)
{
    auto* builds = static_cast<_local_builds_t*>(context);
    Log::log(DEBUG_Updater, "%s([%s], %d, %d)\n", "_find_items", entry->path, entry->isDirectory ? 1 : 0,
             _log_size(entry->size));
    const std::string_view path = entry->path;
    const std::string_view name = path.substr(_name_start(path));
    // ".", ".." and hidden files such as the settings and files still being written.
    if (name.empty() || name.front() == '.') {
        return true;
    }
    builds->items->emplace_back(builds->directory, std::string(name),
                                entry->isDirectory ? STORE_ITEM_DIRECTORY : STORE_ITEM_FILE);
    return true;
}

static bool _search(const std::string& directory, const char* name, UpdaterStoreItem* item)
{
    if (name == nullptr) {
        return false;
    }
    result_t result;
    result.name = name;
    result.item = item;
    aDirectory_List(directory.c_str(), _find_item, &result);
    Log::log(DEBUG_Updater, "UpdaterStore: FindDevice %s %s.\n", result.found ? "Found" : "Not Found", name);
    return result.found;
}

UpdaterStoreItem::UpdaterStoreItem() : itemType(STORE_ITEM_NONE) {}

UpdaterStoreItem::UpdaterStoreItem(const std::string& parent, const std::string& name, store_item_t type)
    : parent(parent),
      name(name),
      itemType(type),
      settings(BuildPath(parent.c_str(), name.c_str(), KeyValueStore::DEFAULT_FILENAME, nullptr).c_str())
{
}

bool UpdaterStoreItem::IsValid() const
{
    return !parent.empty() && !name.empty();
}

aErr UpdaterStoreItem::WriteFile(const char* fileName, const uint8_t* data, size_t length) const
{
    // An item naming nothing would put the file at the top of the file system.
    if (!IsValid() || fileName == nullptr || data == nullptr) {
        return aErrNotFound;
    }
    const std::string path = BuildPath(parent.c_str(), name.c_str(), fileName, nullptr);
    const aErr result = aDirectory_ReplaceFile(path.c_str(), data, length);
    return result == aErrNone || result == aErrIO ? result : aErrNotFound;
}

BirdFile UpdaterStoreItem::ReadBirdFile(const char* fileName) const
{
    const std::string path = BuildPath(parent.c_str(), name.c_str(), fileName != nullptr ? fileName : "", nullptr);
    if (fileName == nullptr || !BirdFile::VerifyFile(path.c_str())) {
        throw std::runtime_error("Invalid bird " + path);
    }
    return BirdFile(path.c_str());
}

bool UpdaterStoreItem::FileExists(const char* fileName) const
{
    return _search(BuildPath(parent.c_str(), name.c_str(), nullptr), fileName, nullptr);
}

UpdaterStore::UpdaterStore(const char* root)
{
    if (root == nullptr) {
        throw std::runtime_error("UpdaterStore: no store directory given");
    }
    basePath = root;
    _ensure_directory(basePath);
}

std::string UpdaterStore::BasePath() const
{
    return basePath;
}

UpdaterStoreItem UpdaterStore::AddDevice(unsigned serial) const
{
    return AddDevice(_serial_name(serial).c_str());
}

UpdaterStoreItem UpdaterStore::AddDevice(const char* name) const
{
    if (name == nullptr) {
        throw std::runtime_error("UpdaterStore: no device name given");
    }
    _ensure_directory(BuildPath(basePath.c_str(), name, nullptr));
    return UpdaterStoreItem(basePath, name, STORE_ITEM_DIRECTORY);
}

bool UpdaterStore::FindDevice(unsigned serial, UpdaterStoreItem* item) const
{
    return FindDevice(_serial_name(serial).c_str(), item);
}

bool UpdaterStore::FindDevice(const char* name, UpdaterStoreItem* item) const
{
    return _search(basePath, name, item);
}

bool UpdaterStore::FindLocalBuilds(unsigned serial, std::vector<UpdaterStoreItem>& items) const
{
    UpdaterStoreItem device;
    if (!FindDevice(serial, &device)) {
        return true;
    }
    _local_builds_t builds{BuildPath(device.parent.c_str(), device.name.c_str(), nullptr), &items};
    aDirectory_List(builds.directory.c_str(), _find_items, &builds);
    return true;
}
