// KeyValueStore: parsing, formatting and time-stamping of settings files.
#include "updater/KeyValueStore.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#include "Kestrelon2/common/aDirectory.h"
#include "Kestrelon2/unix/unix_file.h"
#include "app/Log.h"

// Room for one line with its line end and terminator; a longer line ends the reading.
static constexpr size_t _LINE_BUFFER_SIZE = 2048;

// Lines shorter than this, line end included, cannot hold a key, "=" and a value.
static constexpr size_t _MIN_LINE_LENGTH = 3;

// White space as the C locale has it; a plain test, since the classification functions are
// undefined for the negative chars a hand-edited file can hold.
static bool _is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static std::string_view _trim_end(std::string_view text)
{
    while (!text.empty() && _is_blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

static std::string_view _trim_start(std::string_view text)
{
    while (!text.empty() && _is_blank(text.front())) {
        text.remove_prefix(1);
    }
    return text;
}

static std::string _format(const char* format, ...) __attribute__((format(printf, 1, 2)));

static std::string _format(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    va_list measuring;
    va_copy(measuring, arguments);
    const int length = vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length) + 1);
        vsnprintf(text.data(), text.size(), format, arguments);
        text.resize(static_cast<size_t>(length));
    }
    va_end(arguments);
    return text;
}

// The local time as ctime writes it, without its line end: "Thu Oct 16 09:05:01 2025". Built
// here rather than by ctime, which shares one buffer among all callers.
static std::string _current_time()
{
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) == nullptr) {
        return "";
    }
    return _format("%.3s %.3s%3d %.2d:%.2d:%.2d %d", days[local.tm_wday], months[local.tm_mon], local.tm_mday,
                   local.tm_hour, local.tm_min, local.tm_sec, local.tm_year + 1900);
}

// atoi's reading of the value, without its undefined result for numbers beyond int.
static int _to_int(const std::string& text)
{
    const long number = std::strtol(text.c_str(), nullptr, 10);
    if (number > INT_MAX) {
        return INT_MAX;
    }
    if (number < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(number);
}

KeyValueStore::KeyValueStore(const char* file)
{
    if (file != nullptr) {
        Load(file);
    }
}

const char* KeyValueStore::operator[](const char* key) const
{
    if (key == nullptr) {
        return nullptr;
    }
    const auto entry = entries.find(key);
    return entry != entries.end() ? entry->second.c_str() : nullptr;
}

// The numeric getters insert an absent key with an empty value, which the next save writes out.
int KeyValueStore::GetInt(const char* key, int defaultValue)
{
    if (key == nullptr) {
        return defaultValue;
    }
    const std::string& value = entries[key];
    return value.empty() ? defaultValue : _to_int(value);
}

unsigned KeyValueStore::GetHex(const char* key, unsigned defaultValue)
{
    if (key == nullptr) {
        return defaultValue;
    }
    const std::string& value = entries[key];
    return value.empty() ? defaultValue : static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 16));
}

bool KeyValueStore::GetBOOL(const char* key, bool defaultValue)
{
    if (key == nullptr) {
        return defaultValue;
    }
    const std::string& value = entries[key];
    return value.empty() ? defaultValue : _to_int(value) != 0;
}

double KeyValueStore::GetDouble(const char* key, double defaultValue)
{
    if (key == nullptr) {
        return defaultValue;
    }
    const std::string& value = entries[key];
    return value.empty() ? defaultValue : std::strtod(value.c_str(), nullptr);
}

std::string KeyValueStore::GetString(const char* key, const char* defaultValue) const
{
    const char* value = (*this)[key];
    if (value != nullptr) {
        return value;
    }
    return defaultValue != nullptr ? defaultValue : "";
}

bool KeyValueStore::SetText(const char* key, const std::string& text)
{
    if (key == nullptr) {
        return false;
    }
    std::string& value = entries[key];
    if (value != text) {
        modified = true;
        value = text;
    }
    return true;
}

bool KeyValueStore::Add(const char* key, int value)
{
    return SetText(key, _format("%d", value));
}

bool KeyValueStore::Add(const char* key, double value)
{
    return SetText(key, _format("%f", value));
}

bool KeyValueStore::Add(const char* key, const char* value)
{
    return value != nullptr && SetText(key, value);
}

bool KeyValueStore::Add(const char* key, const std::string& value)
{
    return SetText(key, value);
}

bool KeyValueStore::AddHex(const char* key, unsigned value)
{
    return SetText(key, _format("0x%08X", value));
}

bool KeyValueStore::Add(const KeyValueStore& other)
{
    if (!other.entries.empty()) {
        modified = true;
    }
    for (const auto& [key, value] : other.entries) {
        entries[key] = value;
    }
    return true;
}

bool KeyValueStore::Clear()
{
    entries.clear();
    modified = true;
    return true;
}

void KeyValueStore::Load(const char* file)
{
    if (file == nullptr) {
        return;
    }
    // A copy: the caller may hand in this store's own file name, which Save below assigns.
    const std::string name = file;
    aFile* input = aFile_Open(name.c_str(), aFILE_MODE_READ);
    if (input == nullptr) {
        Log::log(DEBUG_Attributes, "Attibutes: Error - cannot open attributes file: '%s' (%d)\n", name.c_str(), errno);
        Add(KEY_CREATED_TIME, _current_time());
        Save(name.c_str());
    }
    filename = name;
    modified = false;
    if (input == nullptr) {
        return;
    }

    char line[_LINE_BUFFER_SIZE];
    for (unsigned number = 1;; ++number) {
        size_t length = 0;
        const aErr result = aFile_ReadLine(input, line, sizeof line, &length);
        if (result == aErrEOF) {
            break;
        }
        if (result == aErrOverrun) {
            Log::log(DEBUG_Attributes, "Attibutes: line %u of '%s' is too long, reading stopped\n", number,
                     name.c_str());
            break;
        }
        if (result != aErrNone) {
            Log::log(DEBUG_Attributes, "Attibutes: Error - cannot read attributes file: '%s' (%d)\n", name.c_str(),
                     static_cast<int>(result));
            break;
        }
        if (length < _MIN_LINE_LENGTH || line[0] == '#') {
            continue;
        }
        // A zero byte ends the text of a line: the value could not be written back past it.
        const std::string_view text(line, strnlen(line, length));
        const size_t equals = text.find('=');
        if (equals == std::string_view::npos) {
            Log::log(DEBUG_Attributes, "Attibutes: line %u of '%s' has no '=', ignored\n", number, name.c_str());
            continue;
        }
        const std::string_view key = _trim_end(_trim_start(text.substr(0, equals)));
        const std::string_view value = _trim_end(_trim_start(text.substr(equals + 1)));
        entries[std::string(key)] = std::string(value);
    }
    aFile_Close(&input);
}

void KeyValueStore::Save(const char* file)
{
    if (file != nullptr) {
        filename = file;
    } else if (filename.empty()) {
        filename = DEFAULT_FILENAME;
        Log::log(DEBUG_Attributes, "Attibutes: no filename given for attributes, using default:[%s]\n",
                 filename.c_str());
    }
    if (modified) {
        Add(KEY_UPDATED_TIME, _current_time());
    }
    std::string text;
    for (const auto& [key, value] : entries) {
        text += key;
        text += '=';
        text += value;
        text += '\n';
    }
    const aErr result =
        aDirectory_ReplaceFile(filename.c_str(), reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (result == aErrIO) {
        Log::log(DEBUG_Attributes, "Attibutes: Error - cannot write attributes file: '%s' (%d)\n", filename.c_str(),
                 errno);
        return;
    }
    if (result != aErrNone) {
        Log::log(DEBUG_Attributes, "Attibutes: Error - cannot open attributes file for writting: '%s' (%d)\n",
                 filename.c_str(), errno);
        return;
    }
    modified = false;
}
