// The registry and its hive file: reading the file (again when it changed on
// disk), the view the program reads with its writes on their way, writing
// changes once, batches, and opening and deleting keys.
#include "registry/registry.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "registry/registry_state.h"

namespace tolvar {

namespace {

constexpr const char* kRootKey = "HKEY_CURRENT_USER";

}  // namespace

KeyPath SplitKeyPath(const std::string& keyPath) {
    std::string_view s = keyPath;
    if (s.starts_with('\\')) s.remove_prefix(1);
    if (s.ends_with('\\')) s.remove_suffix(1);
    KeyPath path{kRootKey};
    if (s.empty()) return path;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = s.find('\\', start);
        const std::string_view name = s.substr(
            start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (name.empty())
            throw RegistryError("ungültiger Schlüsselpfad \"" + keyPath +
                                "\": leerer Schlüsselname");
        if (name.find('\n') != std::string_view::npos)
            throw RegistryError("ungültiger Schlüsselpfad \"" + keyPath +
                                "\": Zeilenumbruch im Namen");
        path.emplace_back(name);
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return path;
}

void CheckNoLineBreak(const std::string& text, const char* what) {
    if (text.find('\n') != std::string::npos)
        throw RegistryError(
            std::string("Zeilenumbrüche sind in der Registrierung nicht möglich (") + what + ")");
}

std::string Describe(std::string_view valueName, const std::string& keyPath) {
    return "Wert \"" + (valueName.empty() ? std::string("@") : std::string(valueName)) +
           "\" im Schlüssel \"\\" + keyPath + "\"";
}

namespace {

std::string JoinKeyPath(const KeyPath& path) {
    std::string out;
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (i > 1) out += '\\';
        out += path[i];
    }
    return out;
}

// key is top itself or lies below it.
bool IsWithin(const KeyPath& key, const KeyPath& top) {
    if (key.size() < top.size()) return false;
    for (std::size_t i = 0; i < top.size(); ++i)
        if (!NamesEqual(key[i], top[i])) return false;
    return true;
}

using OpKind = RegistryOp::Kind;

void Apply(Hive& hive, const RegistryOp& op) {
    switch (op.kind) {
        case OpKind::CreateKey:
            hive.Create(op.key);
            break;
        case OpKind::SetValue:
            // A key deleted by hand while it was open comes back with the write.
            hive.SetValue(hive.Create(op.key), op.value);
            break;
        case OpKind::DeleteValue:
            if (HiveKey* key = hive.Find(op.key)) key->DeleteValue(op.value.name);
            break;
        case OpKind::DeleteKey:
            hive.Delete(op.key);
            break;
    }
}

// Whether op would change hive (each op of a sequence that changes nothing
// sees the hive as it is).
bool Changes(const Hive& hive, const RegistryOp& op) {
    const HiveKey* key = hive.Find(op.key);
    switch (op.kind) {
        case OpKind::CreateKey:
        case OpKind::DeleteKey:
            return (key != nullptr) == (op.kind == OpKind::DeleteKey);
        case OpKind::SetValue: {
            const HiveValue* v = key ? key->FindValue(op.value.name) : nullptr;
            return v == nullptr || !(*v == op.value);
        }
        case OpKind::DeleteValue:
            return key != nullptr && key->FindValue(op.value.name) != nullptr;
    }
    return true;
}

}  // namespace

void Registry::State::Record(RegistryOp op, const Hive& file) {
    // A write of what the file holds already, with nothing else on its way,
    // is no change: left out, so that reading on needs no copy of the file's
    // content (start-up writes its defaults back every time).
    if (batched.empty() && pending.empty() && !Changes(file, op)) return;
    if (!viewStale) Apply(view, op);
    pending.push_back(std::move(op));
}

Registry::Registry(std::string path)
    : path_(std::move(path)), hive_(std::make_unique<Hive>()), state_(std::make_unique<State>()) {}

Registry::~Registry() = default;

void Registry::StartReading() {
    state_->reading =
        std::async(std::launch::async, [path = path_]() -> std::optional<State::Read> {
            try {
                HiveFileContent file = ReadHiveFile(path);
                State::Read read{file.stamp, {}, {}};
                try {
                    if (file.stamp.exists) read.hive = Hive::Parse(std::move(file.bytes), path);
                } catch (const RegistryError& e) {
                    read.broken = e.what();
                }
                return read;
            } catch (...) {
                return std::nullopt;  // read again, and failing again, where it is needed
            }
        });
}

void Registry::Refresh() {
    State& s = *state_;
    if (!s.loaded && s.reading.valid()) {
        if (std::optional<State::Read> read = s.reading.get()) {
            s.loaded = true;
            s.stamp = read->stamp;
            s.DropView();
            *hive_ = std::move(read->hive);
            s.broken = std::move(read->broken);
        }
    }
    if (s.loaded && StatHiveFile(path_) == s.stamp) {
        if (s.broken) throw RegistryError(*s.broken);
        return;
    }
    HiveFileContent file = ReadHiveFile(path_);
    s.loaded = true;
    s.stamp = file.stamp;
    s.DropView();
    try {
        *hive_ = file.stamp.exists ? Hive::Parse(std::move(file.bytes), path_) : Hive();
        s.broken.reset();
    } catch (const RegistryError& e) {
        // Kept until the file changes again: no write may replace it meanwhile.
        s.broken = e.what();
        throw;
    }
}

const Hive& Registry::View() {
    State& s = *state_;
    // Nothing recorded: the file's content is the view, and a copy of a large
    // file would only cost time. (viewStale stays, so Record leaves the
    // copy alone until it is made.)
    if (s.batched.empty() && s.pending.empty()) return *hive_;
    if (s.viewStale) {
        s.view = *hive_;
        for (const RegistryOp& op : s.batched) Apply(s.view, op);
        for (const RegistryOp& op : s.pending) Apply(s.view, op);
        s.viewStale = false;
    }
    return s.view;
}

void Registry::Write(const std::vector<RegistryOp>& ops) {
    State& s = *state_;
    // The ops leave the writes on their way, whether they change the file or
    // not: the view that holds them goes.
    s.DropView();
    Refresh();
    // Writing back what is there already leaves the file alone; seen without
    // copying and writing out a large file.
    if (std::none_of(ops.begin(), ops.end(),
                     [&](const RegistryOp& op) { return Changes(*hive_, op); }))
        return;
    Hive next = *hive_;
    for (const RegistryOp& op : ops) Apply(next, op);
    // Writing back what is there already leaves the file alone (and in its
    // encoding, with its comments).
    std::string text = next.Serialize();
    if (text == hive_->Serialize()) return;
    s.stamp = WriteHiveFile(path_, text);
    // Read back from what was written: the strings the changes made go with
    // the old text, instead of piling up over a long run.
    try {
        *hive_ = Hive::Parse(std::move(text), path_);
    } catch (const RegistryError&) {
        *hive_ = std::move(next);  // what the writer writes always reads; kept to be safe
    }
}

void Registry::Flush(std::uint64_t keyId) {
    State& s = *state_;
    const auto mine = [keyId](const RegistryOp& op) { return op.owner == keyId; };
    if (std::none_of(s.pending.begin(), s.pending.end(), mine)) return;
    if (s.batchDepth > 0) {
        // A file that cannot be parsed fails the close at once, as outside a batch.
        Refresh();
        const bool othersPending = !std::all_of(s.pending.begin(), s.pending.end(), mine);
        for (RegistryOp& op : s.pending)
            if (mine(op)) s.batched.push_back(std::move(op));
        std::erase_if(s.pending, mine);
        // Moved ahead of writes of other keys made earlier, they may now win.
        if (othersPending) s.DropView();
        return;
    }
    std::vector<RegistryOp> ops;
    std::copy_if(s.pending.begin(), s.pending.end(), std::back_inserter(ops), mine);
    Write(ops);
    std::erase_if(s.pending, mine);
}

void Registry::Forget(std::uint64_t keyId) noexcept {
    State& s = *state_;
    if (std::erase_if(s.pending, [keyId](const RegistryOp& op) { return op.owner == keyId; }) > 0)
        s.DropView();
}

std::size_t Registry::BeginBatch() {
    ++state_->batchDepth;
    return state_->batched.size();
}

void Registry::CommitBatch() {
    State& s = *state_;
    if (s.batchDepth > 1) {
        --s.batchDepth;  // the outer batch writes
        return;
    }
    Write(s.batched);
    s.batched.clear();
    s.batchDepth = 0;
}

void Registry::AbortBatch(std::size_t mark) noexcept {
    State& s = *state_;
    if (mark < s.batched.size()) {
        s.batched.erase(s.batched.begin() + static_cast<std::ptrdiff_t>(mark), s.batched.end());
        s.DropView();
    }
    --s.batchDepth;
}

bool Registry::Exists(const std::vector<std::string>& path) {
    return path.size() == 1 || View().Find(path) != nullptr;  // HKEY_CURRENT_USER always is
}

std::optional<RegKey> Registry::OpenKey(const std::string& keyPath, bool create) {
    const KeyPath path = SplitKeyPath(keyPath);
    Refresh();
    const bool exists = Exists(path);
    if (!exists && !create) return std::nullopt;
    RegKey key(this, JoinKeyPath(path));
    if (!exists) state_->Record({key.id_, path, OpKind::CreateKey, {}}, *hive_);
    return key;
}

bool Registry::KeyExists(const std::string& keyPath) {
    const KeyPath path = SplitKeyPath(keyPath);
    Refresh();
    return Exists(path);
}

bool Registry::DeleteKey(const std::string& keyPath) {
    const KeyPath path = SplitKeyPath(keyPath);
    if (path.size() == 1)
        throw RegistryError("HKEY_CURRENT_USER selbst kann nicht gelöscht werden");
    Refresh();
    State& s = *state_;
    const bool existed = Exists(path);
    RegistryOp deletion{0, path, OpKind::DeleteKey, {}};
    if (s.batchDepth > 0) {
        s.batched.push_back(std::move(deletion));
    } else {
        Write({std::move(deletion)});
    }
    // Writes still pending in the key or below it go with it, as if they had
    // reached the file before the deletion.
    std::erase_if(s.pending, [&](const RegistryOp& op) { return IsWithin(op.key, path); });
    s.DropView();
    return existed;
}

bool Registry::ReadTree(const std::string& keyPath,
                        const std::function<void(const RegKeyReader&)>& read) {
    const KeyPath path = SplitKeyPath(keyPath);
    Refresh();
    const HiveKey* key = View().Find(path);
    static const HiveKey kEmptyRoot = [] {  // HKEY_CURRENT_USER always is
        HiveKey root;
        root.name = kRootKey;
        return root;
    }();
    if (key == nullptr && path.size() == 1) key = &kEmptyRoot;
    if (key == nullptr) return false;
    const std::string joined = JoinKeyPath(path);
    read(RegKeyReader(*key, nullptr, &joined));
    return true;
}
RegistryBatch::RegistryBatch(Registry& registry)
    : registry_(registry), mark_(registry.BeginBatch()) {}

RegistryBatch::~RegistryBatch() {
    if (!done_) registry_.AbortBatch(mark_);
}

void RegistryBatch::Commit() {
    if (done_) return;
    registry_.CommitBatch();
    done_ = true;
}

}  // namespace tolvar
