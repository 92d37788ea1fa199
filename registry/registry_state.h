#pragma once
// What the registry's source files share: key paths as names, the changes on
// their way to the file, and the state of the file and of those changes.

#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/hive.h"
#include "registry/hive_file.h"
#include "registry/registry.h"

namespace tolvar {

// A key path below HKEY_CURRENT_USER, split into names from the root key's
// name down. One leading and one trailing backslash are allowed.
KeyPath SplitKeyPath(const std::string& keyPath);
// The file format has no escape for a line break.
void CheckNoLineBreak(const std::string& text, const char* what);
// "Wert "NAME" im Schlüssel "\PATH"", for the messages of failed reads.
std::string Describe(std::string_view valueName, const std::string& keyPath);

// One change as the program made it, kept until it reaches the file.
struct RegistryOp {
    enum class Kind { CreateKey, SetValue, DeleteValue, DeleteKey };

    std::uint64_t owner;  // the id of the RegKey that made it; 0 for DeleteKey
    KeyPath key;
    Kind kind;
    ValueData value;  // SetValue: the value; DeleteValue: its name
};

// Writes are kept per open key and applied to the file as it is on disk at the
// moment they are flushed, so a hand edit made meanwhile survives them. Inside
// a batch, flushing moves them to the batch, which reaches the file at once.
struct Registry::State {
    bool loaded = false;
    FileStamp stamp;                    // of the version last read or written
    std::optional<std::string> broken;  // why that version cannot be parsed
    int batchDepth = 0;                 // batches open, the outermost counted too
    std::vector<RegistryOp> batched;    // flushed inside the open batch, in order
    std::vector<RegistryOp> pending;    // of keys still open, in the order they were made
    Hive view;                          // the file, then batched, then pending
    bool viewStale = true;
    std::uint64_t lastKeyId = 0;

    // The file as StartReading found it; nothing when it could not be read.
    struct Read {
        FileStamp stamp;
        Hive hive;
        std::optional<std::string> broken;
    };
    std::future<std::optional<Read>> reading;

    // The view is built again when it is next needed; until then it holds
    // nothing, not even the text of a version of the file since replaced.
    void DropView() {
        viewStale = true;
        view = Hive();
    }

    // Keeps op until it reaches the file; file: its content as last read.
    void Record(RegistryOp op, const Hive& file);
};

}  // namespace tolvar
