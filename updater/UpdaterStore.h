// UpdaterStore: the local store of downloaded firmware, one directory per device under the store root.
#ifndef UPDATER_UPDATERSTORE_H
#define UPDATER_UPDATERSTORE_H

#include <string>

// Joins the components with "/" between each two, never leaving one out or merging two; the
// list ends with a null pointer: BuildPath(home, ".tessmark", nullptr).
std::string BuildPath(const char* first, ...) __attribute__((sentinel));

#endif
