// VirtualModule: answers sync, force route, the module queries, the echo and the system entity as a module's firmware does.
#include "sim/module/VirtualModule.h"

#include <algorithm>
#include <stdexcept>

namespace ksim {

namespace {

constexpr uint8_t OP_MASK = 0xC0;
constexpr uint8_t OP_GET = 0x40;
constexpr uint8_t OP_SET = 0x80;
constexpr uint8_t OPTION_MASK = 0x3F;
constexpr uint8_t INDEX_MASK = 0x1F;
constexpr uint8_t SPEC_ERROR = 0x80;
constexpr uint8_t SEQ_MORE = 0x80;
constexpr uint8_t SEQ_MASK = 0x7F;
constexpr size_t ARRAY_CHUNK = 24;

constexpr uint8_t QUERY_BUILD = 0xFF;
constexpr uint8_t QUERY_UEI = 1;
constexpr uint8_t QUERY_CLASS = 4;
constexpr uint8_t QUERY_SUBCLASS = 5;
constexpr uint8_t QUERY_GROUP = 6;

constexpr uint8_t OPTION_NAME = 32;

// Command bytes whose packets carry no UEI payload.
constexpr uint8_t NON_UEI[] = {0, 1, 2, 4, 8, 9, 23, 24, 73, 94, 95, 173, 175};

void _appendWord(Bytes& bytes, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
}

uint32_t _checkedVersion(const ModuleConfig& config)
{
    if (config.moduleAddress == 0 || (config.moduleAddress & 1) != 0) {
        throw std::runtime_error("module address " + std::to_string(config.moduleAddress) + " is not even and non-zero");
    }
    if (config.name.size() > ModuleConfig::MAX_NAME) {
        throw std::runtime_error("module name longer than " + std::to_string(ModuleConfig::MAX_NAME) + " bytes");
    }
    const std::optional<uint32_t> packed = ModuleConfig::packVersion(config.version);
    if (!packed) {
        throw std::runtime_error("module version '" + config.version + "' is not MAJOR.MINOR.PATCH that packs");
    }
    return *packed;
}

std::shared_ptr<WireLog> _openLog(const ModuleConfig& config)
{
    return config.logPath.empty() ? nullptr : std::make_shared<WireLog>(config.logPath);
}

} // namespace

VirtualModule::VirtualModule(ModuleConfig config) : VirtualModule(config, _openLog(config)) {}

VirtualModule::VirtualModule(ModuleConfig config, std::shared_ptr<WireLog> log)
    : config_(std::move(config)),
      packedVersion_(_checkedVersion(config_)),
      log_(std::move(log)),
      router_(config_.routerAddress),
      heartbeatMs_(config_.heartbeatMs),
      name_(config_.name)
{
}

std::string VirtualModule::name() const
{
    const std::lock_guard<std::mutex> lock(stateMutex_);
    return name_;
}

void VirtualModule::log(const char* direction, const Bytes& bytes) const
{
    if (log_) {
        log_->write(config_.serialNumber, direction, bytes);
    }
}

std::vector<Packet> VirtualModule::handle(const Packet& packet)
{
    log("rx", packet.wire());
    std::vector<Packet> answers;
    {
        const std::lock_guard<std::mutex> lock(stateMutex_);
        answers = answer(packet);
    }
    // Recorded once its effect is in place: whoever awaits a packet sees the state it left.
    record(packet);
    return answers;
}

void VirtualModule::record(const Packet& packet)
{
    {
        const std::lock_guard<std::mutex> lock(recordMutex_);
        received_.push_back(packet.wire());
        ++recordedTotal_;
        if (received_.size() > RECORD_LIMIT) {
            received_.pop_front();
        }
    }
    recordChanged_.notify_all();
}

std::vector<Bytes> VirtualModule::received() const
{
    const std::lock_guard<std::mutex> lock(recordMutex_);
    return {received_.begin(), received_.end()};
}

bool VirtualModule::awaitReceived(const std::function<bool(const Bytes&)>& match, std::chrono::milliseconds limit) const
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::unique_lock<std::mutex> lock(recordMutex_);
    size_t next = 0; // counted over the module's life, so dropping old entries does not shift it
    for (;;) {
        const size_t first = recordedTotal_ - received_.size();
        for (size_t i = std::max(next, first); i < recordedTotal_; ++i) {
            if (match(received_[i - first])) {
                return true;
            }
        }
        next = recordedTotal_;
        if (recordChanged_.wait_until(lock, deadline) == std::cv_status::timeout && recordedTotal_ == next) {
            return false;
        }
    }
}

void VirtualModule::clearReceived()
{
    const std::lock_guard<std::mutex> lock(recordMutex_);
    received_.clear();
    recordedTotal_ = 0;
}

std::vector<Packet> VirtualModule::answer(const Packet& packet)
{
    if (packet.address == Packet::SYNC) {
        if (packet.data.empty()) {
            return {reply({})};
        }
        return {};
    }
    if (packet.address == Packet::FORCE_ROUTE) {
        if (packet.data.size() == 1 && packet.data[0] <= 1) {
            routed_ = packet.data[0] == 1;
        }
        return {};
    }
    // Routing to modules behind this one is not served: packets for other addresses fall away.
    if (packet.address != config_.moduleAddress || packet.data.empty()) {
        return {};
    }
    const Bytes& request = packet.data;
    const uint8_t command = request[0];
    if (command == CMD_QUERY) {
        return answerQuery(request);
    }
    if (command == CMD_ECHO) {
        return {reply(request)};
    }
    // Other non-UEI packets (heartbeat replies among them) need no answer.
    if (std::find(std::begin(NON_UEI), std::end(NON_UEI), command) != std::end(NON_UEI)) {
        return {};
    }
    // Too short to name an entity, or not a request (answer-form option bytes): nothing to say.
    const uint8_t operation = request.size() >= 3 ? request[1] & OP_MASK : 0;
    if (operation != OP_GET && operation != OP_SET) {
        return {};
    }
    if (command != CMD_SYSTEM) {
        return {errorAnswer(request, aErrInvalidEntity)};
    }
    return answerSystem(request);
}

std::vector<Packet> VirtualModule::answerQuery(const Bytes& request) const
{
    const size_t size = request.size();
    const uint8_t query = size >= 2 ? request[1] : 0;
    if (query == QUERY_BUILD && size == 2) {
        Bytes payload{CMD_QUERY, QUERY_BUILD};
        _appendWord(payload, config_.build);
        return {reply(payload)};
    }
    if (query == QUERY_UEI && size == 6) {
        const aErr result = ueiSupport(request[2], request[3], request[4], request[5]);
        return {reply({CMD_QUERY, QUERY_UEI, request[2], request[3], request[4], static_cast<uint8_t>(result)})};
    }
    if (query == QUERY_CLASS && size == 3) {
        return {reply({CMD_QUERY, QUERY_CLASS, request[2], static_cast<uint8_t>(request[2] == CMD_SYSTEM ? 1 : 0)})};
    }
    if ((query == QUERY_SUBCLASS || query == QUERY_GROUP) && size == 4) {
        return {reply({CMD_QUERY, query, request[2], request[3], 0})};
    }
    // A query of unknown kind or wrong length has no answer form the host could match.
    return {};
}

aErr VirtualModule::ueiSupport(uint8_t command, uint8_t option, uint8_t index, uint8_t direction) const
{
    if (command != CMD_SYSTEM || (index & INDEX_MASK) != 0) {
        return aErrInvalidEntity;
    }
    const SystemOption* served = findSystemOption(option & OPTION_MASK);
    if (served == nullptr) {
        return aErrInvalidOption;
    }
    if (((direction & OP_GET) != 0 && !served->get) || ((direction & OP_SET) != 0 && !served->set)) {
        return aErrPermission;
    }
    return aErrNone;
}

const VirtualModule::SystemOption* VirtualModule::findSystemOption(uint8_t code)
{
    static constexpr SystemOption options[] = {
        {1, Width::Byte, true, false},  // module address
        {2, Width::Byte, true, true},   // router address
        {3, Width::Byte, true, true},   // heartbeat interval, tens of ms
        {7, Width::Word, true, false},  // firmware version, packed
        {8, Width::Byte, true, false},  // model
        {9, Width::Word, true, false},  // serial number
        {10, Width::Call, false, true}, // save: the values live in memory only, so nothing to do
        {OPTION_NAME, Width::Array, true, true},
        {43, Width::Word, true, false}, // build number
        {45, Width::Word, true, false}, // protocol features
    };
    for (const SystemOption& option : options) {
        if (option.code == code) {
            return &option;
        }
    }
    return nullptr;
}

uint32_t VirtualModule::systemValue(uint8_t code) const
{
    switch (code) {
    case 1:
        return config_.moduleAddress;
    case 2:
        return router_;
    case 3:
        return std::min<uint32_t>(heartbeatMs_ / 10, 255);
    case 7:
        return packedVersion_;
    case 8:
        return config_.model;
    case 9:
        return config_.serialNumber;
    case 43:
        return config_.build;
    case 45:
        return config_.protocolFeatures;
    default:
        return 0;
    }
}

aErr VirtualModule::setSystemValue(uint8_t code, uint32_t value)
{
    switch (code) {
    case 2:
        if ((value & 1) != 0) {
            return aErrRange;
        }
        router_ = static_cast<uint8_t>(value);
        return aErrNone;
    case 3:
        heartbeatMs_ = value * 10;
        return aErrNone;
    default:
        return aErrNone;
    }
}

std::vector<Packet> VirtualModule::answerSystem(const Bytes& request)
{
    const bool get = (request[1] & OP_MASK) == OP_GET;
    const uint8_t code = request[1] & OPTION_MASK;
    const uint8_t index = request[2] & INDEX_MASK;
    if (index != 0) {
        return {errorAnswer(request, aErrInvalidEntity)};
    }
    const SystemOption* option = findSystemOption(code);
    if (option == nullptr) {
        return {errorAnswer(request, aErrInvalidOption)};
    }
    if (!(get ? option->get : option->set)) {
        return {errorAnswer(request, aErrPermission)};
    }
    if (option->width == Width::Array) {
        return get ? nameAnswer(index) : answerNameSet(request);
    }
    if (get) {
        Bytes payload{CMD_SYSTEM, code, index};
        const uint32_t value = systemValue(code);
        if (option->width == Width::Word) {
            _appendWord(payload, value);
        } else {
            payload.push_back(static_cast<uint8_t>(value));
        }
        return {reply(payload)};
    }
    const size_t valueSize = request.size() - 3;
    const uint8_t setCode = static_cast<uint8_t>(code | OP_MASK);
    if (option->width == Width::Call) {
        return {reply({CMD_SYSTEM, setCode, index})};
    }
    if (valueSize != 1) {
        return {errorAnswer(request, aErrSize)};
    }
    const aErr result = setSystemValue(code, request[3]);
    if (result != aErrNone) {
        return {errorAnswer(request, result)};
    }
    return {reply({CMD_SYSTEM, setCode, index, static_cast<uint8_t>(systemValue(code))})};
}

std::vector<Packet> VirtualModule::nameAnswer(uint8_t index) const
{
    std::vector<Packet> packets;
    size_t offset = 0;
    do {
        const size_t chunk = std::min(ARRAY_CHUNK, name_.size() - offset);
        Bytes payload{CMD_SYSTEM, OPTION_NAME, index};
        payload.insert(payload.end(), name_.begin() + static_cast<std::ptrdiff_t>(offset),
                       name_.begin() + static_cast<std::ptrdiff_t>(offset + chunk));
        offset += chunk;
        const uint8_t sequence = static_cast<uint8_t>(packets.size() & SEQ_MASK);
        payload.push_back(offset < name_.size() ? static_cast<uint8_t>(sequence | SEQ_MORE) : sequence);
        packets.push_back(reply(std::move(payload)));
    } while (offset < name_.size());
    return packets;
}

// A set arrives as a run of packets, sequence numbers from 0, the last without the more bit;
// the run gets exactly one answer, after its last packet, so no stray answer is left for a
// later exchange to pick up. A packet out of sequence ends the run with aErrPacket; the rest
// of such a broken run (packets numbered 1 and up with no run open) is dropped unanswered.
// A name that would grow past MAX_NAME is answered aErrSize at the end of its run.
std::vector<Packet> VirtualModule::answerNameSet(const Bytes& request)
{
    if (request.size() < 4) {
        nameRun_.active = false;
        return {errorAnswer(request, aErrSize)};
    }
    const uint8_t sequence = request.back() & SEQ_MASK;
    const bool more = (request.back() & SEQ_MORE) != 0;
    if (!(nameRun_.active && sequence == nameRun_.expected)) {
        if (sequence == 0) {
            nameRun_ = ArrayRun{true, 0, {}, aErrNone};
        } else if (nameRun_.active) {
            nameRun_.active = false;
            return {errorAnswer(request, aErrPacket)};
        } else {
            return {};
        }
    }
    const size_t chunk = request.size() - 4;
    if (nameRun_.error == aErrNone) {
        if (nameRun_.bytes.size() + chunk > ModuleConfig::MAX_NAME) {
            nameRun_.error = aErrSize;
            nameRun_.bytes.clear();
        } else {
            nameRun_.bytes.insert(nameRun_.bytes.end(), request.begin() + 3, request.end() - 1);
        }
    }
    nameRun_.expected = static_cast<uint8_t>((sequence + 1) & SEQ_MASK);
    if (more) {
        return {};
    }
    nameRun_.active = false;
    if (nameRun_.error != aErrNone) {
        return {errorAnswer(request, nameRun_.error)};
    }
    name_.assign(nameRun_.bytes.begin(), nameRun_.bytes.end());
    return {reply({CMD_SYSTEM, static_cast<uint8_t>(OPTION_NAME | OP_MASK), static_cast<uint8_t>(request[2] & INDEX_MASK)})};
}

Packet VirtualModule::errorAnswer(const Bytes& request, aErr code) const
{
    const uint8_t option = request[1] & OPTION_MASK;
    const bool set = (request[1] & OP_MASK) == OP_SET;
    return reply({request[0], static_cast<uint8_t>(set ? option | OP_MASK : option),
                  static_cast<uint8_t>((request[2] & INDEX_MASK) | SPEC_ERROR), static_cast<uint8_t>(code)});
}

} // namespace ksim
