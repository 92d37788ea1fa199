#pragma once
// The hive file in memory: a tree of keys and values, its parser for the
// REGEDIT text format and its writer. Private to the registry; Registry and
// RegKey are the interface the program uses.
//
// Names and values point into the hive's text: the file's bytes as they were
// read, and every string made since. A file of ten thousand rules is thus read
// without a string allocated for each name and value.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvar {

enum class ValueType {
    String,  // "Name"="text"
    Dword,   // "Name"=dword:0000000a
    Binary,  // "Name"=hex:00,01
    Other,   // "Name"=hex(N):..  kept as it is, read as neither string nor integer
};

// A value as the program writes it, before it is in a hive.
struct ValueData {
    std::string name;  // empty: the key's default value, written as @
    ValueType type = ValueType::String;
    std::string text;                 // String
    std::uint32_t number = 0;         // Dword
    std::vector<std::uint8_t> bytes;  // Binary and Other
    std::string typeTag;              // Other: the N of hex(N), as it was written
};

// A value in a hive; its strings lie in the hive's text.
struct HiveValue {
    std::string_view name;  // empty: the key's default value
    ValueType type = ValueType::String;
    std::uint32_t number = 0;  // Dword
    std::string_view text;     // String
    std::string_view bytes;    // Binary and Other, one char per byte
    std::string_view typeTag;  // Other

    std::vector<std::uint8_t> Bytes() const { return {bytes.begin(), bytes.end()}; }
    bool operator==(const ValueData& v) const;
};

struct HiveKey {
    std::string_view name;
    std::vector<HiveValue> values;  // in the order they were created
    std::vector<HiveKey> subkeys;   // ascending ignoring case

    const HiveValue* FindValue(std::string_view valueName) const;
    bool DeleteValue(std::string_view valueName);

    const HiveKey* FindSubkey(std::string_view keyName) const;
    HiveKey* FindSubkey(std::string_view keyName);
    bool DeleteSubkey(std::string_view keyName);

  private:
    friend class Hive;
    friend class HiveParser;
    // Both take strings that lie in the hive's text already.
    // Replaces a value of the same name in its place (keeping the name's case)
    // or appends it.
    void SetValue(const HiveValue& value);
    // The existing subkey of that name, or a new one in sorted place.
    HiveKey& AddSubkey(std::string_view keyName);
};

// A key's path from its root key's name down: {"HKEY_CURRENT_USER", "Software"}.
using KeyPath = std::vector<std::string>;

// The text a hive's strings lie in: the file's bytes, the strings made since,
// and the text of the hive it was copied from. It is only ever added to, so
// every string handed out stays where it is.
class HiveText {
  public:
    explicit HiveText(std::string file = {}, std::shared_ptr<const HiveText> base = {});
    HiveText(const HiveText&) = delete;
    HiveText& operator=(const HiveText&) = delete;

    std::string_view File() const { return file_; }
    std::string_view Keep(std::string_view s) { return made_.emplace_back(s); }

  private:
    std::shared_ptr<const HiveText> base_;
    std::string file_;
    std::deque<std::string> made_;
};

// A copy of a hive shares the text read so far; what either makes afterwards
// is its own.
class Hive {
  public:
    Hive();
    Hive(const Hive& other);
    // A hive moved from may only be assigned to or destroyed.
    Hive(Hive&& other) noexcept = default;
    Hive& operator=(Hive other) noexcept;

    // Reads a whole hive file, keeping its bytes as the hive's text. Throws
    // RegistryError "PATH:LINE: reason".
    static Hive Parse(std::string bytes, const std::string& path);
    // The file text: UTF-8, LF line ends, every key depth-first.
    std::string Serialize() const;

    const HiveKey* Find(const KeyPath& path) const;
    HiveKey* Find(const KeyPath& path);
    // The key, created with its missing parents.
    HiveKey& Create(const KeyPath& path);
    // Replaces or appends a value of key, a key of this hive.
    void SetValue(HiveKey& key, const ValueData& value);
    // Removes the key with all its subkeys; false if it did not exist.
    bool Delete(const KeyPath& path);

    // The root keys (HKEY_CURRENT_USER and whatever else the file holds).
    const std::vector<HiveKey>& Roots() const { return top_->subkeys; }

  private:
    friend class HiveParser;
    // A copy of s in the hive's text, where it stays as long as the hive.
    std::string_view Keep(std::string_view s);

    std::shared_ptr<HiveText> text_;
    std::unique_ptr<HiveKey> top_;  // holds the root keys as its subkeys
};

// Names compare without regard to ASCII case (folded to upper case, as the
// Windows registry orders them); other bytes compare as they are.
int CompareNames(std::string_view a, std::string_view b);
inline bool NamesEqual(std::string_view a, std::string_view b) {
    return a.size() == b.size() && (a == b || CompareNames(a, b) == 0);
}

}  // namespace tolvar
