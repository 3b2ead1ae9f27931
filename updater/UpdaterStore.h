// UpdaterStore: the local store of downloaded firmware, one directory per device under the store root.
#ifndef UPDATER_UPDATERSTORE_H
#define UPDATER_UPDATERSTORE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Kestrelon2/common/aError.h"
#include "updater/BirdFile.h"
#include "updater/KeyValueStore.h"

// Joins the components with "/" between each two, never leaving one out or merging two; the
// list ends with a null pointer: BuildPath(home, ".tessmark", nullptr).
std::string BuildPath(const char* first, ...) __attribute__((sentinel));

enum store_item_t {
    STORE_ITEM_FILE = 0,
    STORE_ITEM_DIRECTORY = 1,
    STORE_ITEM_NONE = 2, // a default-constructed item, naming nothing
};

// One entry of the store tree, a device directory or a file in it, with the entry's settings
// from parent/name/.settings.
class UpdaterStoreItem {
public:
    // Names nothing; its settings have no file, so saving them writes ".settings" in the working
    // directory.
    UpdaterStoreItem();
    // Loads the settings, creating the settings file when it is missing and can be made.
    UpdaterStoreItem(const std::string& parent, const std::string& name, store_item_t type);

    bool IsValid() const;

    // Replaces parent/name/fileName with the bytes as a whole: the old file stays until the new
    // one is complete. aErrNotFound for null data or when the file cannot be created, aErrIO when
    // writing it fails.
    aErr WriteFile(const char* fileName, const uint8_t* data, size_t length) const;

    // Loads parent/name/fileName. Throws std::runtime_error("Invalid bird " + path) when the file
    // is missing or its header is wrong, and "Failed to load bird data" when it does not load.
    BirdFile ReadBirdFile(const char* fileName) const;

    // Whether an entry of parent/name has fileName in its name.
    bool FileExists(const char* fileName) const;

    std::string parent; // the directory holding the entry
    std::string name;   // the entry's own name
    store_item_t itemType;
    KeyValueStore settings;
};

class UpdaterStore {
public:
    // Makes sure the root is a directory, creating it when missing; throws std::runtime_error
    // when it cannot be created or a file is in its place.
    explicit UpdaterStore(const char* root);

    std::string BasePath() const;

    // The device's directory, created when missing (the serial as "%08X"); throws
    // std::runtime_error when it cannot be created or a file is in its place.
    UpdaterStoreItem AddDevice(unsigned serial) const;
    UpdaterStoreItem AddDevice(const char* name) const;

    // Whether an entry of the root has the name in its own name; the first in directory order
    // fills the item, when one is given, with its settings loaded.
    bool FindDevice(unsigned serial, UpdaterStoreItem* item) const;
    bool FindDevice(const char* name, UpdaterStoreItem* item) const;

    // Appends one item per entry of the device's directory whose name does not begin with ".",
    // in directory order; nothing when the device has no directory. Always true.
    bool FindLocalBuilds(unsigned serial, std::vector<UpdaterStoreItem>& items) const;

private:
    std::string basePath;
};

#endif
