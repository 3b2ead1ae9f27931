// KeyValueStore: named text values in memory and in a settings file of KEY=VALUE lines.
#ifndef UPDATER_KEYVALUESTORE_H
#define UPDATER_KEYVALUESTORE_H

#include <map>
#include <string>

// The file is written by the updater and may be edited by hand, so loading accepts blanks around
// keys and values, comments and repeated keys, and never trusts a line's length or shape.
class KeyValueStore {
public:
    static constexpr const char* DEFAULT_FILENAME = ".settings";
    static constexpr const char* KEY_CREATED_TIME = "CREATED_TIME";
    static constexpr const char* KEY_UPDATED_TIME = "UPDATED_TIME";

    // An empty store; with a file name, loaded from that file, which is created when missing.
    explicit KeyValueStore(const char* file = nullptr);

    // The value's text, or null when the key is absent; never inserts.
    const char* operator[](const char* key) const;

    // The number the value begins with (0 when it begins with none), or the default for an empty
    // value. An absent key is inserted with an empty value, to be written by the next save.
    int GetInt(const char* key, int defaultValue);
    // The value read as hexadecimal, with or without "0x".
    unsigned GetHex(const char* key, unsigned defaultValue);
    bool GetBOOL(const char* key, bool defaultValue);
    double GetDouble(const char* key, double defaultValue);

    // The value when the key exists, even if empty; else the default, or "" for a null default.
    // Never inserts.
    std::string GetString(const char* key, const char* defaultValue) const;

    // The adders store the value as text and mark the store modified when the text differs from
    // the current one (an absent key counts as empty). A null key or text stores nothing and
    // gives false; otherwise they give true.
    bool Add(const char* key, int value);
    bool Add(const char* key, double value);
    bool Add(const char* key, const char* value);
    bool Add(const char* key, const std::string& value);
    bool AddHex(const char* key, unsigned value);
    // Copies every entry of the other store, replacing values of equal keys.
    bool Add(const KeyValueStore& other);
    bool Clear();

    // Adds the file's entries to those in memory. A file that cannot be opened is created,
    // stamped with its creation time.
    void Load(const char* file);
    // Writes every entry, stamping the update time when something changed since the last load
    // or save. Without a name, the last name used, else ".settings" in the working directory.
    // The file is replaced as a whole or not at all; a failure is only logged and leaves the
    // store modified.
    void Save(const char* file = nullptr);

private:
    bool SetText(const char* key, const std::string& text);

    std::string filename;
    std::map<std::string, std::string> entries;
    bool modified = false;
};

#endif
