// packetfifo: the process-wide directory of packet queues and the locked, event-driven queue behind each handle.
#include "Kestrelon2/common/packetfifo.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>

namespace {

struct aPacketDeleter {
    void operator()(aPacket* packet) const { aPacket_Destroy(&packet); }
};

// One queued packet with the sequence number it was put under.
class SerialPacket {
public:
    SerialPacket(int32_t id, std::unique_ptr<aPacket, aPacketDeleter> packet)
        : id(id), packet(std::move(packet))
    {
    }

    int32_t getId() const { return id; }
    const aPacket* getPacket() const { return packet.get(); }

private:
    int32_t id;
    std::unique_ptr<aPacket, aPacketDeleter> packet;
};

class packetFifo {
public:
    typedef std::deque<SerialPacket>::iterator position;

    std::deque<SerialPacket> packets;
    std::condition_variable packetAdded;
    std::mutex guard;
    std::atomic<bool> alive{true};
    std::atomic<int32_t> windowStart{0};
    std::atomic<int32_t> nextId{0};

    // Callers hold guard. Afterwards windowStart names the oldest queued packet, or nextId when
    // none is left.
    void clearAndSyncWindow()
    {
        packets.clear();
        windowStart = nextId.load();
    }

    void eraseAndSyncWindow(position element)
    {
        packets.erase(element);
        syncWindow();
    }

    void eraseAndSyncWindow(position first, position last)
    {
        packets.erase(first, last);
        syncWindow();
    }

    void syncWindow() { windowStart = packets.empty() ? nextId.load() : packets.front().getId(); }
};

typedef std::map<aPacketFifoHandle, std::shared_ptr<packetFifo>> packetFifoDictionary;

} // namespace

// The directory, its mutex and the handle counter must outlive every user: queues are also
// destroyed from other statics' destructors and used by threads that run on while the
// process exits. The mutex and the counter are constant-initialised and need no destructor;
// the map is made once and never destroyed.
static_assert(std::is_trivially_destructible_v<std::mutex>);
constinit static std::mutex gpPacketFifoDictionaryMutex;
constinit static std::atomic<aPacketFifoHandle> gpSequentialId{1};

// Callers hold gpPacketFifoDictionaryMutex.
static packetFifoDictionary& sDictionary()
{
    static packetFifoDictionary* const gpPacketFifoDictionary = new packetFifoDictionary();
    return *gpPacketFifoDictionary;
}

static std::shared_ptr<packetFifo> sGetFifo(aPacketFifoHandle handle)
{
    std::lock_guard<std::mutex> lock(gpPacketFifoDictionaryMutex);
    packetFifoDictionary& dictionary = sDictionary();
    auto entry = dictionary.find(handle);
    return entry == dictionary.end() ? nullptr : entry->second;
}

static std::shared_ptr<packetFifo> sExtractFifo(aPacketFifoHandle handle)
{
    std::lock_guard<std::mutex> lock(gpPacketFifoDictionaryMutex);
    packetFifoDictionary& dictionary = sDictionary();
    auto entry = dictionary.find(handle);
    if (entry == dictionary.end()) {
        return nullptr;
    }
    std::shared_ptr<packetFifo> fifo = std::move(entry->second);
    dictionary.erase(entry);
    return fifo;
}

// Sequence numbers wrap; a signed difference keeps "later than" right across the wrap.
static int32_t sSequenceDifference(int32_t later, int32_t earlier)
{
    return static_cast<int32_t>(static_cast<uint32_t>(later) - static_cast<uint32_t>(earlier));
}

// Caller holds guard. The queued element stays when no copy can be made, so nothing is lost.
static aPacket* _stealPacketFromFifo(packetFifo& fifo, packetFifo::position element)
{
    aPacket* copy = aPacket_Copy(element->getPacket());
    if (copy != nullptr) {
        fifo.eraseAndSyncWindow(element);
    }
    return copy;
}

static aPacket* _waitUntilNotEmpty(packetFifo& fifo, uint32_t msTimeout)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(msTimeout);
    std::unique_lock<std::mutex> lock(fifo.guard);
    fifo.packetAdded.wait_until(lock, deadline,
                                [&fifo] { return !fifo.packets.empty() || !fifo.alive; });
    if (!fifo.alive || fifo.packets.empty()) {
        return nullptr;
    }
    return _stealPacketFromFifo(fifo, fifo.packets.begin());
}

// Caller holds guard. Offers the filter only packets put after lastTested, oldest first.
static packetFifo::position sScanWindow(packetFifo& fifo, aPacketFilter filter, void* ref,
                                        int32_t& lastTested)
{
    for (auto element = fifo.packets.begin(); element != fifo.packets.end(); ++element) {
        if (sSequenceDifference(element->getId(), lastTested) <= 0) {
            continue;
        }
        lastTested = element->getId();
        if (filter(element->getPacket(), ref) != 0) {
            return element;
        }
    }
    return fifo.packets.end();
}

static aPacket* _waitUntilProcIsSatisfied(packetFifo& fifo, aPacketFilter filter, void* ref,
                                          uint32_t msTimeout)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(msTimeout);
    std::unique_lock<std::mutex> lock(fifo.guard);
    int32_t lastTested = sSequenceDifference(fifo.windowStart, 1);
    for (;;) {
        auto selected = sScanWindow(fifo, filter, ref, lastTested);
        if (selected != fifo.packets.end()) {
            return _stealPacketFromFifo(fifo, selected);
        }
        if (!fifo.alive) {
            return nullptr;
        }
        if (fifo.packetAdded.wait_until(lock, deadline) == std::cv_status::timeout) {
            selected = sScanWindow(fifo, filter, ref, lastTested);
            return selected == fifo.packets.end() ? nullptr : _stealPacketFromFifo(fifo, selected);
        }
    }
}

aPacketFifoHandle aPacketFifo_Create()
{
    try {
        auto fifo = std::make_shared<packetFifo>();
        std::lock_guard<std::mutex> lock(gpPacketFifoDictionaryMutex);
        packetFifoDictionary& dictionary = sDictionary();
        aPacketFifoHandle handle = gpSequentialId++;
        if (handle == 0) {
            handle = gpSequentialId++;
        }
        dictionary.emplace(handle, std::move(fifo));
        return handle;
    } catch (...) {
        return 0;
    }
}

aErr aPacketFifo_Destroy(aPacketFifoHandle* handle)
{
    if (handle == nullptr) {
        return aErrParam;
    }
    const aPacketFifoHandle target = *handle;
    *handle = 0;
    try {
        std::shared_ptr<packetFifo> fifo = sExtractFifo(target);
        if (fifo == nullptr) {
            return aErrNotFound;
        }
        {
            std::lock_guard<std::mutex> lock(fifo->guard);
            fifo->clearAndSyncWindow();
            fifo->alive = false;
        }
        fifo->packetAdded.notify_all();
        return aErrNone;
    } catch (...) {
        return aErrUnknown;
    }
}

size_t aPacketFifo_GetLength(aPacketFifoHandle handle)
{
    try {
        std::shared_ptr<packetFifo> fifo = sGetFifo(handle);
        if (fifo == nullptr) {
            return 0;
        }
        std::lock_guard<std::mutex> lock(fifo->guard);
        return fifo->packets.size();
    } catch (...) {
        return 0;
    }
}

aErr aPacketFifo_Put(aPacketFifoHandle handle, const aPacket* packet)
{
    try {
        std::shared_ptr<packetFifo> fifo = sGetFifo(handle);
        if (fifo == nullptr || !aVALIDPACKET(packet)) {
            return aErrParam;
        }
        {
            std::lock_guard<std::mutex> lock(fifo->guard);
            // A put that lost the race with Destroy finds the queue gone, as a later put would.
            if (!fifo->alive) {
                return aErrParam;
            }
            const int32_t id = fifo->nextId++;
            std::unique_ptr<aPacket, aPacketDeleter> copy(aPacket_Copy(packet));
            if (copy == nullptr) {
                return aErrParam;
            }
            fifo->packets.emplace_back(id, std::move(copy));
            fifo->windowStart = fifo->packets.front().getId();
            if (fifo->packets.size() > aPACKETFIFO_CAPACITY) {
                fifo->clearAndSyncWindow();
                return aErrNone;
            }
        }
        fifo->packetAdded.notify_all();
        return aErrNone;
    } catch (...) {
        return aErrResource;
    }
}

aPacket* aPacketFifo_Get(aPacketFifoHandle handle)
{
    try {
        std::shared_ptr<packetFifo> fifo = sGetFifo(handle);
        if (fifo == nullptr) {
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(fifo->guard);
        if (fifo->packets.empty()) {
            return nullptr;
        }
        return _stealPacketFromFifo(*fifo, fifo->packets.begin());
    } catch (...) {
        return nullptr;
    }
}

aPacket* aPacketFifo_Await(aPacketFifoHandle handle, uint32_t msTimeout)
{
    try {
        std::shared_ptr<packetFifo> fifo = sGetFifo(handle);
        return fifo == nullptr ? nullptr : _waitUntilNotEmpty(*fifo, msTimeout);
    } catch (...) {
        return nullptr;
    }
}

aPacket* aPacketFifo_GetFirst(aPacketFifoHandle handle, aPacketFilter filter, void* ref)
{
    if (filter == nullptr) {
        return nullptr;
    }
    try {
        std::shared_ptr<packetFifo> fifo = sGetFifo(handle);
        if (fifo == nullptr) {
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(fifo->guard);
        for (auto element = fifo->packets.begin(); element != fifo->packets.end(); ++element) {
            if (filter(element->getPacket(), ref) != 0) {
                return _stealPacketFromFifo(*fifo, element);
            }
        }
        return nullptr;
    } catch (...) {
        return nullptr;
    }
}

aPacket* aPacketFifo_AwaitFirst(aPacketFifoHandle handle, aPacketFilter filter, void* ref,
                                uint32_t msTimeout)
{
    if (filter == nullptr) {
        return nullptr;
    }
    try {
        std::shared_ptr<packetFifo> fifo = sGetFifo(handle);
        return fifo == nullptr ? nullptr : _waitUntilProcIsSatisfied(*fifo, filter, ref, msTimeout);
    } catch (...) {
        return nullptr;
    }
}

size_t aPacketFifo_DrainPackets(aPacketFifoHandle handle, aPacketFilter filter, void* ref)
{
    if (filter == nullptr) {
        return 0;
    }
    try {
        std::shared_ptr<packetFifo> fifo = sGetFifo(handle);
        if (fifo == nullptr) {
            return 0;
        }
        std::lock_guard<std::mutex> lock(fifo->guard);
        const size_t before = fifo->packets.size();
        // Compacts the kept packets to the front in order, offering each packet to the filter
        // once, without allocating.
        auto selected = std::remove_if(fifo->packets.begin(), fifo->packets.end(),
                                       [filter, ref](const SerialPacket& element) {
                                           return filter(element.getPacket(), ref) != 0;
                                       });
        fifo->eraseAndSyncWindow(selected, fifo->packets.end());
        return before - fifo->packets.size();
    } catch (...) {
        return 0;
    }
}
