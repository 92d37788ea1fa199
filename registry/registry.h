#pragma once
// The registry of the current user, kept in one hive file in the text format
// of registry exports. One Registry object serves the whole run; each use opens
// a key, reads or writes, and closes it again (RegKey's destructor closes).
//
// Key paths are relative to HKEY_CURRENT_USER, with backslashes, the leading
// one optional: "\\Software\\Brenwick\\Tolvar\\DMail". Names compare without
// regard to case, as the Windows registry does.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"

namespace tolvar {

// A read of a missing value or of a value of another type, a key that cannot be
// opened, a hive file that cannot be parsed or written.
class RegistryError : public TolvarError {
  public:
    using TolvarError::TolvarError;
};

class Hive;
class RegKey;
class RegKeyReader;
class RegistryBatch;
struct HiveKey;
struct HiveValue;
struct RegistryOp;
struct ValueData;

class Registry {
  public:
    // path: the hive file. A missing file is an empty registry; it is created
    // at the first write. Every RegKey must be gone before its Registry.
    explicit Registry(std::string path);
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    const std::string& Path() const { return path_; }

    // Starts reading and parsing the file on a thread of its own, so that the
    // first key opened finds it done (a file changed meanwhile is read again
    // then). For start-up, which has other things to do meanwhile.
    void StartReading();

    // Opens a key, creating it (and its parents) when create is true; a key
    // that is missing with create false yields nothing. The hive file is read
    // again first if it changed on disk since it was last read.
    // Throws RegistryError when the file cannot be parsed ("PATH:LINE: why").
    std::optional<RegKey> OpenKey(const std::string& keyPath, bool create = true);

    bool KeyExists(const std::string& keyPath);
    // Hands read the key at keyPath with everything below it, as the program
    // sees them now (the file is looked at once; writes on their way to it
    // included), so that a large tree is read without opening each key. read
    // must not use the registry otherwise. False, without a call, when the
    // key does not exist. Throws RegistryError as OpenKey does.
    bool ReadTree(const std::string& keyPath, const std::function<void(const RegKeyReader&)>& read);
    // Deletes the key with all its subkeys; false if it did not exist.
    bool DeleteKey(const std::string& keyPath);

  private:
    friend class RegKey;
    friend class RegistryBatch;
    struct State;

    void Refresh();      // reads the file again if it changed on disk
    const Hive& View();  // the file's content with every recorded write applied
    bool Exists(const std::vector<std::string>& path);  // in View()
    void Flush(std::uint64_t keyId);                    // writes what one key has pending
    void Forget(std::uint64_t keyId) noexcept;          // drops what one key has pending
    // Applies ops to the file as it is on disk now and replaces it once.
    void Write(const std::vector<RegistryOp>& ops);

    std::size_t BeginBatch();  // returns the mark that AbortBatch rolls back to
    void CommitBatch();
    void AbortBatch(std::size_t mark) noexcept;

    std::string path_;
    std::unique_ptr<Hive> hive_;  // the file's content as last read or written
    std::unique_ptr<State> state_;
};

// An open key. Writes reach the file, atomically, when the key is closed (or,
// inside a batch, when the batch commits); a change made by hand to the file
// meanwhile is kept.
class RegKey {
  public:
    RegKey(RegKey&& other) noexcept;
    RegKey& operator=(RegKey&& other) noexcept;
    ~RegKey();  // closes; a failed write here is lost, so call Close() to see errors

    bool ValueExists(const std::string& name) const;
    std::vector<std::string> GetValueNames() const;  // in the order the values were created
    std::vector<std::string> GetKeyNames() const;    // subkeys, ascending ignoring case

    // Reads throw RegistryError when the value is missing or of another type.
    std::string ReadString(const std::string& name) const;
    std::int32_t ReadInteger(const std::string& name) const;
    std::vector<std::uint8_t> ReadBinaryData(const std::string& name) const;

    void WriteString(const std::string& name, const std::string& value);
    void WriteInteger(const std::string& name, std::int32_t value);
    void WriteBinaryData(const std::string& name, const std::vector<std::uint8_t>& value);
    bool DeleteValue(const std::string& name);

    // Writes what is pending to the file, or hands it to the open batch;
    // throws RegistryError when it cannot (what failed stays pending). The key
    // stays open.
    void Close();

  private:
    friend class Registry;
    RegKey(Registry* registry, std::string keyPath);
    void Release() noexcept;
    const HiveKey* Current() const;  // the key as the program sees it now; null if gone
    const HiveValue& Value(const std::string& name) const;
    void Store(ValueData value);

    Registry* registry_ = nullptr;
    std::string keyPath_;
    std::uint64_t id_ = 0;  // tags this key's pending writes
};

// A key inside Registry::ReadTree: its name, its subkeys and its values, read
// in place. Reads throw RegistryError as RegKey's do. A reader of a subkey
// needs the reader it came from.
class RegKeyReader {
  public:
    std::string_view Name() const;
    // The key's path as OpenKey takes it: "\\Software\\...".
    std::string Path() const;
    // Subkeys, ascending ignoring case.
    std::size_t SubkeyCount() const;
    RegKeyReader Subkey(std::size_t index) const;

    bool ValueExists(std::string_view name) const;
    std::string ReadString(std::string_view name) const;
    std::int32_t ReadInteger(std::string_view name) const;

  private:
    friend class Registry;
    RegKeyReader(const HiveKey& key, const RegKeyReader* parent, const std::string* path)
        : key_(&key), parent_(parent), path_(path) {}
    std::string JoinedPath() const;
    const HiveValue& Value(std::string_view name) const;

    const HiveKey* key_;
    const RegKeyReader* parent_;  // null for the key ReadTree was asked for
    const std::string* path_;     // that key's joined path
};

// Changes of several keys that reach the file as one atomic replacement:
//
//     RegistryBatch batch(registry);
//     registry.DeleteKey(...);
//     registry.OpenKey(...)->WriteString(...);  // recorded when the key closes
//     batch.Commit();
//
// While a batch is open, closing a key and DeleteKey record their changes
// instead of writing them; reads see them. Commit reads the file again (so a
// hand edit made meanwhile survives), applies every recorded change in order
// and writes once. A batch that ends without Commit, as when an exception
// passes, drops what was recorded in it and leaves the file alone. A batch
// opened inside another joins it: its Commit leaves the writing to the outer
// one, and ending without Commit drops only its own part.
//
// A key still open at Commit keeps its writes until it closes. The batch must
// be gone before its Registry.
class RegistryBatch {
  public:
    explicit RegistryBatch(Registry& registry);
    ~RegistryBatch();
    RegistryBatch(const RegistryBatch&) = delete;
    RegistryBatch& operator=(const RegistryBatch&) = delete;

    // Throws RegistryError when the file cannot be read or written; the batch
    // then stays open with its changes, so Commit may be tried again.
    void Commit();

  private:
    Registry& registry_;
    std::size_t mark_;
    bool done_ = false;
};

}  // namespace tolvar
