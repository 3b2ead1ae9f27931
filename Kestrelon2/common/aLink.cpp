// aLink: creation, copying and release of link specifiers.
#include "Kestrelon2/common/aLink.h"

#include <cstdlib>
#include <cstring>

linkSpec* aLinkSpec_Create(linkType type)
{
    auto* spec = static_cast<linkSpec*>(std::calloc(1, sizeof(linkSpec)));
    if (spec != nullptr) {
        spec->type = type;
    }
    return spec;
}

linkSpec* aLinkSpec_Copy(linkSpec spec)
{
    auto* copy = static_cast<linkSpec*>(std::malloc(sizeof(linkSpec)));
    if (copy != nullptr) {
        std::memcpy(copy, &spec, sizeof(linkSpec));
    }
    return copy;
}

aErr aLinkSpec_Destroy(linkSpec** spec)
{
    if (spec == nullptr || *spec == nullptr) {
        return aErrParam;
    }
    std::free(*spec);
    *spec = nullptr;
    return aErrNone;
}
