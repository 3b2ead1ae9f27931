// Tests of VirtualModule: what the module answers to each request on the wire, byte arrays, settable values and the record of received packets.
#include <gtest/gtest.h>

#include <thread>

#include "sim/module/ModuleFramer.h"
#include "sim/module/VirtualModule.h"

namespace {

using ksim::Bytes;
using ksim::ModuleConfig;
using ksim::VirtualModule;

ModuleConfig TestConfig()
{
    ModuleConfig config;
    config.build = 1234;
    config.protocolFeatures = 0x80000001;
    config.heartbeatMs = 250;
    return config;
}

// What the module sends back for a stream of wire bytes: every answer's wire bytes, back to back.
Bytes Exchange(VirtualModule& module, ksim::ModuleFramer& framer, const Bytes& stream)
{
    Bytes out;
    for (const uint8_t byte : stream) {
        if (const std::optional<ksim::Packet> packet = framer.push(byte)) {
            for (const ksim::Packet& answer : module.handle(*packet)) {
                const Bytes wire = answer.wire();
                out.insert(out.end(), wire.begin(), wire.end());
            }
        }
    }
    return out;
}

Bytes Exchange(VirtualModule& module, const Bytes& stream)
{
    ksim::ModuleFramer framer;
    return Exchange(module, framer, stream);
}

// A packet to module 2 with the given payload.
Bytes To2(const Bytes& payload)
{
    return ksim::Packet{0x02, payload}.wire();
}

struct AnswerCase {
    const char* what;
    Bytes request;  // wire bytes
    Bytes answer;   // wire bytes; empty for no answer
};

TEST(VirtualModule, AnswersEachRequestAsTheModuleDoes)
{
    const AnswerCase cases[] = {
        {"sync", {0xAD, 0x00}, {0x02, 0x00}},
        {"sync burst", {0xAD, 0, 0xAD, 0, 0xAD, 0}, {0x02, 0, 0x02, 0, 0x02, 0}},
        {"force route", {0xAF, 0x01, 0x01}, {}},
        {"build number", To2({0x49, 0xFF}), To2({0x49, 0xFF, 0x00, 0x00, 0x04, 0xD2})},
        {"uei support: get serial", To2({0x49, 1, 3, 9, 0, 0x40}), To2({0x49, 1, 3, 9, 0, 0})},
        {"uei support: set router", To2({0x49, 1, 3, 2, 0, 0x80}), To2({0x49, 1, 3, 2, 0, 0})},
        {"uei support: set serial", To2({0x49, 1, 3, 9, 0, 0x80}), To2({0x49, 1, 3, 9, 0, 12})},
        {"uei support: unknown option", To2({0x49, 1, 3, 63, 0, 0x40}), To2({0x49, 1, 3, 63, 0, 29})},
        {"uei support: unknown index", To2({0x49, 1, 3, 9, 1, 0x40}), To2({0x49, 1, 3, 9, 1, 28})},
        {"uei support: unknown command", To2({0x49, 1, 8, 1, 0, 0x40}), To2({0x49, 1, 8, 1, 0, 28})},
        {"class quantity: system", To2({0x49, 4, 3}), To2({0x49, 4, 3, 1})},
        {"class quantity: other", To2({0x49, 4, 8}), To2({0x49, 4, 8, 0})},
        {"subclass quantity", To2({0x49, 5, 3, 1}), To2({0x49, 5, 3, 1, 0})},
        {"entity group", To2({0x49, 6, 3, 0}), To2({0x49, 6, 3, 0, 0})},
        {"query too short", To2({0x49, 1, 3, 9}), {}},
        {"build query too long", To2({0x49, 0xFF, 0}), {}},
        {"unknown query", To2({0x49, 7}), {}},
        {"bare query command", To2({0x49}), {}},
        {"echo", To2({0x17, 1, 2, 3}), To2({0x17, 1, 2, 3})},
        {"echo of nothing", To2({0x17}), To2({0x17})},
        {"get module address", To2({3, 0x41, 0x20}), To2({3, 0x01, 0, 2})},
        {"get router", To2({3, 0x42, 0x20}), To2({3, 0x02, 0, 0})},
        {"get heartbeat, tens of ms", To2({3, 0x43, 0x20}), To2({3, 0x03, 0, 25})},
        {"get version", To2({3, 0x47, 0x20}), To2({3, 0x07, 0, 0x2B, 0x00, 0x00, 0x05})},
        {"get model", To2({3, 0x48, 0x20}), To2({3, 0x08, 0, 27})},
        {"get serial", To2({3, 0x49, 0x20}), To2({3, 0x09, 0, 0x5E, 0xED, 0x00, 0x01})},
        {"get build", To2({3, 0x6B, 0x20}), To2({3, 0x2B, 0, 0x00, 0x00, 0x04, 0xD2})},
        {"get features", To2({3, 0x6D, 0x20}), To2({3, 0x2D, 0, 0x80, 0x00, 0x00, 0x01})},
        {"get without the request flag", To2({3, 0x41, 0x00}), To2({3, 0x01, 0, 2})},
        {"set router", To2({3, 0x82, 0x20, 4}), To2({3, 0xC2, 0, 4})},
        {"set router odd", To2({3, 0x82, 0x20, 5}), To2({3, 0xC2, 0x80, 13})},
        {"set router without a value", To2({3, 0x82, 0x20}), To2({3, 0xC2, 0x80, 14})},
        {"set router with two bytes", To2({3, 0x82, 0x20, 0, 4}), To2({3, 0xC2, 0x80, 14})},
        {"set read-only serial", To2({3, 0x89, 0x20, 1, 2, 3, 4}), To2({3, 0xC9, 0x80, 12})},
        {"call save", To2({3, 0x8A, 0x20}), To2({3, 0xCA, 0})},
        {"get of a call", To2({3, 0x4A, 0x20}), To2({3, 0x0A, 0x80, 12})},
        {"get unknown option", To2({3, 0x7F, 0x20}), To2({3, 0x3F, 0x80, 29})},
        {"set unknown option", To2({3, 0xBF, 0x20, 0}), To2({3, 0xFF, 0x80, 29})},
        {"get unknown index", To2({3, 0x41, 0x21}), To2({3, 0x01, 0x81, 28})},
        {"unknown index before unknown option", To2({3, 0x7F, 0x25}), To2({3, 0x3F, 0x85, 28})},
        {"unknown uei command: get", To2({5, 0x40, 0x20}), To2({5, 0x00, 0x80, 28})},
        {"unknown uei command: set", To2({0x0C, 0x83, 0x22, 0x7F}), To2({0x0C, 0xC3, 0x82, 28})},
        {"i2c is not served yet", To2({8, 1, 0xA1, 2, 0}), {}},
        {"loader is not served yet", To2({0x5F, 1}), {}},
        {"heartbeat reply", To2({0, 2}), {}},
        {"empty packet to the module", {0x02, 0x00}, {}},
        {"uei too short", To2({3, 0x41}), {}},
        {"answer-form option", To2({3, 0x01, 0x20}), {}},
        {"other module", {0x04, 0x03, 3, 0x41, 0x20}, {}},
        {"garbage before a request", {0x03, 0xFF, 0x00, 0x02, 0x03, 3, 0x41, 0x20}, To2({3, 0x01, 0, 2})},
        {"bad length, then a sync", {0x02, 0x1D, 0xAD, 0x00}, {0x02, 0x00}},
    };
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.what);
        VirtualModule module(TestConfig());
        EXPECT_EQ(Exchange(module, c.request), c.answer);
    }
}

TEST(VirtualModule, AnswersFromItsOwnAddressAndVersionLayout)
{
    ModuleConfig config = TestConfig();
    config.moduleAddress = 6;
    config.version = "2.15.3";
    VirtualModule module(config);
    EXPECT_EQ(Exchange(module, {0xAD, 0x00}), (Bytes{0x06, 0x00}));
    EXPECT_EQ(Exchange(module, {0x06, 0x03, 3, 0x47, 0x20}), (Bytes{0x06, 0x07, 3, 0x07, 0, 0x2F, 0x02, 0x0F, 0x03}));
    EXPECT_EQ(Exchange(module, To2({3, 0x41, 0x20})), Bytes{});
    EXPECT_EQ(module.heartbeat().wire(), (Bytes{0x06, 0x02, 0x00, 0x00}));
}

TEST(VirtualModule, KeepsWhatTheHostSets)
{
    VirtualModule module(TestConfig());
    EXPECT_FALSE(module.routed());
    Exchange(module, {0xAF, 0x01, 0x01});
    EXPECT_TRUE(module.routed());
    Exchange(module, {0xAF, 0x01, 0x02});
    EXPECT_TRUE(module.routed());
    Exchange(module, {0xAF, 0x01, 0x00});
    EXPECT_FALSE(module.routed());

    EXPECT_EQ(Exchange(module, To2({3, 0x83, 0x20, 5})), To2({3, 0xC3, 0, 5}));
    EXPECT_EQ(module.heartbeatMs(), 50u);
    EXPECT_EQ(Exchange(module, To2({3, 0x82, 0x20, 8})), To2({3, 0xC2, 0, 8}));
    EXPECT_EQ(module.routerAddress(), 8);
    EXPECT_EQ(Exchange(module, To2({3, 0x42, 0x20})), To2({3, 0x02, 0, 8}));
    EXPECT_EQ(module.config().routerAddress, 0) << "the start-up configuration stays as it was";
}

// A name packet to module 2: 03 option index, bytes, sequence byte.
Bytes NamePacket(uint8_t option, const std::string& bytes, uint8_t sequence)
{
    Bytes payload{3, option, 0x20};
    payload.insert(payload.end(), bytes.begin(), bytes.end());
    payload.push_back(sequence);
    return To2(payload);
}

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(VirtualModule, ServesTheNameAsAByteArray)
{
    VirtualModule module(TestConfig());
    EXPECT_EQ(Exchange(module, To2({3, 0x60, 0x20})), To2(Cat({{3, 0x20, 0}, Text("kestrelon-sim"), {0x00}})));

    const std::string a(24, 'a'), b(24, 'b'), c = "cc";
    // The answer comes once, after the last packet of the run.
    EXPECT_EQ(Exchange(module, NamePacket(0xA0, a, 0x80)), Bytes{});
    EXPECT_EQ(Exchange(module, NamePacket(0xA0, b, 0x81)), Bytes{});
    EXPECT_EQ(Exchange(module, NamePacket(0xA0, c, 0x02)), To2({3, 0xE0, 0}));
    EXPECT_EQ(module.name(), a + b + c);
    // Read back as 24, 24 and 2 bytes with sequence bytes 80, 81, 02, in the get's answer form.
    EXPECT_EQ(Exchange(module, To2({3, 0x60, 0x20})),
              Cat({To2(Cat({{3, 0x20, 0}, Text(a), {0x80}})), To2(Cat({{3, 0x20, 0}, Text(b), {0x81}})),
                   To2(Cat({{3, 0x20, 0}, Text(c), {0x02}}))}));

    // Exactly 24 bytes fit one packet.
    EXPECT_EQ(Exchange(module, NamePacket(0xA0, a, 0x00)), To2({3, 0xE0, 0}));
    EXPECT_EQ(Exchange(module, To2({3, 0x60, 0x20})), To2(Cat({{3, 0x20, 0}, Text(a), {0x00}})));

    // An empty name is one packet holding only the sequence byte.
    EXPECT_EQ(Exchange(module, To2({3, 0xA0, 0x20, 0x00})), To2({3, 0xE0, 0}));
    EXPECT_EQ(module.name(), "");
    EXPECT_EQ(Exchange(module, To2({3, 0x60, 0x20})), To2({3, 0x20, 0, 0x00}));
}

TEST(VirtualModule, RefusesNameRunsThatGoWrong)
{
    VirtualModule module(TestConfig());
    const std::string chunk(24, 'x');
    struct RunCase {
        const char* what;
        std::vector<Bytes> packets;
        Bytes answers;
    };
    const RunCase cases[] = {
        {"longer than 64 bytes: one answer at the end",
         {NamePacket(0xA0, chunk, 0x80), NamePacket(0xA0, chunk, 0x81), NamePacket(0xA0, chunk, 0x02)},
         To2({3, 0xE0, 0x80, 14})},
        {"out of sequence: one answer, the rest of the run unanswered",
         {NamePacket(0xA0, chunk, 0x80), NamePacket(0xA0, chunk, 0x82), NamePacket(0xA0, "y", 0x03)},
         To2({3, 0xE0, 0x80, 24})},
        {"a run that never started", {NamePacket(0xA0, "z", 0x01)}, {}},
        {"no sequence byte", {To2({3, 0xA0, 0x20})}, To2({3, 0xE0, 0x80, 14})},
        {"wrong index", {To2({3, 0xA0, 0x21, 'q', 0x00})}, To2({3, 0xE0, 0x81, 28})},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes answers;
        for (const Bytes& packet : c.packets) {
            const Bytes answer = Exchange(module, packet);
            answers.insert(answers.end(), answer.begin(), answer.end());
        }
        EXPECT_EQ(answers, c.answers);
        EXPECT_EQ(module.name(), "kestrelon-sim");
    }
    // A new run starting at 0 replaces a broken one.
    EXPECT_EQ(Exchange(module, NamePacket(0xA0, chunk, 0x80)), Bytes{});
    EXPECT_EQ(Exchange(module, NamePacket(0xA0, "new", 0x00)), To2({3, 0xE0, 0}));
    EXPECT_EQ(module.name(), "new");
}

TEST(VirtualModule, RecordsEveryFramedPacket)
{
    VirtualModule module(TestConfig());
    Exchange(module, {0x03, 0xAD, 0x00, 0x04, 0x01, 0x09, 0x02, 0x02, 0x00, 0x02});
    EXPECT_EQ(module.received(), (std::vector<Bytes>{{0xAD, 0x00}, {0x04, 0x01, 0x09}, {0x02, 0x02, 0x00, 0x02}}));

    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        module.handle(ksim::Packet{0x02, {0x17, 0x42}});
    });
    const auto isEcho = [](const Bytes& wire) { return wire.size() == 4 && wire[2] == 0x17 && wire[3] == 0x42; };
    EXPECT_TRUE(module.awaitReceived(isEcho, std::chrono::seconds(5)));
    later.join();
    EXPECT_TRUE(module.awaitReceived(isEcho, std::chrono::milliseconds(0))) << "packets already recorded count";

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(module.awaitReceived([](const Bytes&) { return false; }, std::chrono::milliseconds(100)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));

    module.clearReceived();
    EXPECT_TRUE(module.received().empty());
}

TEST(VirtualModule, KeepsABoundedRecord)
{
    VirtualModule module(TestConfig());
    const auto numbered = [](size_t i) {
        return Bytes{0x04, 0x03, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
    };
    for (size_t i = 0; i <= VirtualModule::RECORD_LIMIT; ++i) {
        const Bytes wire = numbered(i);
        module.handle(ksim::Packet{0x04, Bytes(wire.begin() + 2, wire.end())});
    }
    const std::vector<Bytes> record = module.received();
    ASSERT_EQ(record.size(), VirtualModule::RECORD_LIMIT);
    EXPECT_EQ(record.front(), numbered(1));
    EXPECT_EQ(record.back(), numbered(VirtualModule::RECORD_LIMIT));
    const Bytes first = numbered(0);
    const Bytes last = numbered(VirtualModule::RECORD_LIMIT);
    EXPECT_FALSE(module.awaitReceived([&](const Bytes& wire) { return wire == first; }, std::chrono::milliseconds(0)));
    EXPECT_TRUE(module.awaitReceived([&](const Bytes& wire) { return wire == last; }, std::chrono::milliseconds(0)));
}

TEST(VirtualModule, RefusesConfigurationsNoModuleHas)
{
    const struct {
        const char* what;
        void (*change)(ModuleConfig&);
    } cases[] = {
        {"odd address", [](ModuleConfig& c) { c.moduleAddress = 3; }},
        {"address 0", [](ModuleConfig& c) { c.moduleAddress = 0; }},
        {"bad version", [](ModuleConfig& c) { c.version = "two"; }},
        {"long name", [](ModuleConfig& c) { c.name = std::string(65, 'n'); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ModuleConfig config;
        c.change(config);
        EXPECT_THROW(VirtualModule{config}, std::runtime_error);
    }
}

} // namespace
