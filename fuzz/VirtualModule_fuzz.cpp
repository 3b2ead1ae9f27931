// VirtualModule_fuzz: feeds arbitrary host bytes to the virtual module's framer and answers, as a connection on its TCP port would.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sim/module/ModuleFramer.h"
#include "sim/module/VirtualModule.h"

static void _require(bool holds)
{
    if (!holds) {
        std::abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    ksim::VirtualModule module{ksim::ModuleConfig{}};
    ksim::ModuleFramer framer;
    for (size_t i = 0; i < size; i++) {
        const std::optional<ksim::Packet> packet = framer.push(bytes[i]);
        if (!packet) {
            continue;
        }
        _require(packet->data.size() <= 28);
        for (const ksim::Packet& answer : module.handle(*packet)) {
            // Everything the module sends is a well-formed packet from its own address.
            _require(answer.address == module.config().moduleAddress);
            _require(answer.data.size() <= 28);
        }
    }
    return 0;
}
