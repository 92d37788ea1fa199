#pragma once
// The hive file in memory: a tree of keys and values, its parser for the
// REGEDIT text format and its writer. Private to the registry; Registry and
// RegKey are the interface the program uses.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tolvar {

enum class ValueType {
    String,  // "Name"="text"
    Dword,   // "Name"=dword:0000000a
    Binary,  // "Name"=hex:00,01
    Other,   // "Name"=hex(N):..  kept as it is, read as neither string nor integer
};

struct HiveValue {
    std::string name;  // empty: the key's default value, written as @
    ValueType type = ValueType::String;
    std::string text;                 // String
    std::uint32_t number = 0;         // Dword
    std::vector<std::uint8_t> bytes;  // Binary and Other
    std::string typeTag;              // Other: the N of hex(N), as it was written
};

struct HiveKey {
    std::string name;
    std::vector<HiveValue> values;  // in the order they were created
    std::vector<HiveKey> subkeys;   // ascending ignoring case

    const HiveValue* FindValue(std::string_view valueName) const;
    // Replaces a value of the same name in its place (keeping the name's case)
    // or appends it.
    void SetValue(HiveValue value);
    bool DeleteValue(std::string_view valueName);

    const HiveKey* FindSubkey(std::string_view keyName) const;
    HiveKey* FindSubkey(std::string_view keyName);
    // The existing subkey of that name, or a new one in sorted place.
    HiveKey& AddSubkey(std::string_view keyName);
    bool DeleteSubkey(std::string_view keyName);
};

// A key's path from its root key's name down: {"HKEY_CURRENT_USER", "Software"}.
using KeyPath = std::vector<std::string>;

class Hive {
  public:
    // Reads a whole hive file. Throws RegistryError "PATH:LINE: reason".
    static Hive Parse(std::string_view bytes, const std::string& path);
    // The file text: UTF-8, LF line ends, every key depth-first.
    std::string Serialize() const;

    const HiveKey* Find(const KeyPath& path) const;
    HiveKey* Find(const KeyPath& path);
    // The key, created with its missing parents.
    HiveKey& Create(const KeyPath& path);
    // Removes the key with all its subkeys; false if it did not exist.
    bool Delete(const KeyPath& path);

    // The root keys (HKEY_CURRENT_USER and whatever else the file holds).
    const std::vector<HiveKey>& Roots() const { return top_.subkeys; }

  private:
    HiveKey top_;  // holds the root keys as its subkeys
};

// Names compare without regard to ASCII case (folded to upper case, as the
// Windows registry orders them); other bytes compare as they are.
int CompareNames(std::string_view a, std::string_view b);
inline bool NamesEqual(std::string_view a, std::string_view b) {
    return a.size() == b.size() && (a == b || CompareNames(a, b) == 0);
}

}  // namespace tolvar
