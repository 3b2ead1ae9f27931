// aLink_fuzz: feeds arbitrary device bytes through a running link's input pipe — framing, heartbeats, sync — and checks what reaches the queue.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "Kestrelon2/common/aLink.h"

// The device side: bytes handed over by the fuzzer, read one by one by the link's input pipe.
struct _Feed {
    std::mutex guard;
    std::condition_variable changed;
    std::vector<uint8_t> bytes;
    size_t next = 0;
    bool drained = true;
};

static _Feed gFeed;

static void _require(bool holds)
{
    if (!holds) {
        std::abort();
    }
}

static aErr _feedGet(uint8_t* byte, void*)
{
    std::lock_guard<std::mutex> lock(gFeed.guard);
    if (gFeed.next >= gFeed.bytes.size()) {
        return aErrNotReady;
    }
    *byte = gFeed.bytes[gFeed.next++];
    return aErrNone;
}

// The pipe has read everything: tell the fuzzer, then wait for more.
static aErr _feedWait(uint32_t ms, void*)
{
    std::unique_lock<std::mutex> lock(gFeed.guard);
    if (gFeed.next >= gFeed.bytes.size()) {
        gFeed.drained = true;
        gFeed.changed.notify_all();
    }
    const bool more = gFeed.changed.wait_for(lock, std::chrono::milliseconds(ms),
                                             [] { return gFeed.next < gFeed.bytes.size(); });
    return more ? aErrNone : aErrNotReady;
}

static aErr _discardWrite(const uint8_t*, size_t, void*)
{
    return aErrNone;
}

static aErr _discardPut(const uint8_t*, void*)
{
    return aErrNone;
}

static aLinkId gLink = 0;

static void _destroyLink()
{
    aLink_Destroy(&gLink);
}

// One link for the whole run: starting and stopping pipes per input would drown the fuzzer. It
// is torn down at exit before the library's own statics go.
static aLinkId _link()
{
    if (gLink == 0) {
        aStream* stream = aStream_Create(_feedGet, _discardPut, _discardWrite, nullptr, nullptr);
        aStream_SetWaitProc(stream, _feedWait);
        gLink = aLink_Create(stream);
        std::atexit(_destroyLink);
    }
    return gLink;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const aLinkId id = _link();
    _require(id != 0);
    {
        std::unique_lock<std::mutex> lock(gFeed.guard);
        gFeed.bytes.assign(bytes, bytes + size);
        gFeed.next = 0;
        gFeed.drained = size == 0;
        gFeed.changed.notify_all();
        // A pipe that stops reading is a hang, not a slow input.
        _require(gFeed.changed.wait_for(lock, std::chrono::seconds(10), [] { return gFeed.drained; }));
    }
    for (aPacket* packet = aLink_GetPacket(id); packet != nullptr; packet = aLink_GetPacket(id)) {
        _require(aPacket_IsComplete(packet));
        _require(packet->address != 0 && (packet->address & 1) == 0);
        _require(packet->dataSize <= aPACKET_MAX_DATA);
        _require(!(packet->dataSize == 2 && packet->data[0] == 0)); // heartbeats never reach callers
        aPacket_Destroy(&packet);
    }
    const aLinkStatus status = aLink_GetStatus(id);
    _require(status == kLinkRunning || status == kLinkSyncing || status == kLinkFault);
    return 0;
}
