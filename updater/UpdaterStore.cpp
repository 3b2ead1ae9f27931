// UpdaterStore: paths of the local store.
#include "updater/UpdaterStore.h"

#include <cstdarg>

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
