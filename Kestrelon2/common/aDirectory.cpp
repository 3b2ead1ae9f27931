// aDirectory: joining path components, which needs no file system.
#include "Kestrelon2/common/aDirectory.h"

#include <cstdarg>
#include <cstdint>
#include <cstring>

// A component read from the buffer it is being written into would be overwritten while it is copied.
static bool sInsideBuffer(const char* component, const char* buffer, size_t size)
{
    const auto address = reinterpret_cast<uintptr_t>(component);
    const auto start = reinterpret_cast<uintptr_t>(buffer);
    return address >= start && address - start < (size > 0 ? size : 1);
}

aErr aDirectory_JoinPath(char* buffer, size_t size, const char* first, const char* second)
{
    return aDirectory_BuildPath(buffer, size, first, second, nullptr);
}

aErr aDirectory_BuildPath(char* buffer, size_t size, const char* first, ...)
{
    if (buffer == nullptr || first == nullptr) {
        return aErrParam;
    }
    const char* components[aDIR_MAX_COMPONENTS];
    size_t count = 0;
    bool tooMany = false;
    va_list arguments;
    va_start(arguments, first);
    for (const char* component = first; component != nullptr; component = va_arg(arguments, const char*)) {
        if (count == aDIR_MAX_COMPONENTS) {
            tooMany = true;
            break;
        }
        components[count++] = component;
    }
    va_end(arguments);
    if (tooMany) {
        return aErrParam;
    }

    // Measured before anything is written, so that a failure leaves the buffer as it was.
    const char separator = aDIR_PATH_SEP[0];
    size_t lengths[aDIR_MAX_COMPONENTS];
    bool separated[aDIR_MAX_COMPONENTS];
    size_t total = 0;
    char last = '\0';
    for (size_t i = 0; i < count; ++i) {
        if (sInsideBuffer(components[i], buffer, size)) {
            return aErrParam;
        }
        lengths[i] = std::strlen(components[i]);
        // With nothing written yet there is nothing to separate: "" and "b" stay the relative "b".
        separated[i] = total > 0 && last != separator && components[i][0] != separator;
        total += (separated[i] ? 1 : 0) + lengths[i];
        if (separated[i]) {
            last = separator;
        }
        if (lengths[i] > 0) {
            last = components[i][lengths[i] - 1];
        }
    }
    if (total >= size) {
        return aErrOverrun;
    }

    char* end = buffer;
    for (size_t i = 0; i < count; ++i) {
        if (separated[i]) {
            *end++ = separator;
        }
        std::memcpy(end, components[i], lengths[i]);
        end += lengths[i];
    }
    *end = '\0';
    return aErrNone;
}
