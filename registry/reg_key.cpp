// Reading and writing values: an open RegKey, and RegKeyReader for the keys
// of a tree read in place.
#include <utility>

#include "registry/registry_state.h"

namespace tolvar {

namespace {

using OpKind = RegistryOp::Kind;

}  // namespace

std::string_view RegKeyReader::Name() const {
    return key_->name;
}

std::string RegKeyReader::JoinedPath() const {
    if (parent_ == nullptr) return *path_;
    std::string path = parent_->JoinedPath() + "\\";
    path += key_->name;
    return path;
}

std::string RegKeyReader::Path() const {
    return "\\" + JoinedPath();
}

std::size_t RegKeyReader::SubkeyCount() const {
    return key_->subkeys.size();
}

RegKeyReader RegKeyReader::Subkey(std::size_t index) const {
    return RegKeyReader(key_->subkeys.at(index), this, path_);
}

const HiveValue& RegKeyReader::Value(std::string_view name) const {
    const HiveValue* value = key_->FindValue(name);
    if (!value) throw RegistryError(Describe(name, JoinedPath()) + " fehlt");
    return *value;
}

bool RegKeyReader::ValueExists(std::string_view name) const {
    return key_->FindValue(name) != nullptr;
}

std::string RegKeyReader::ReadString(std::string_view name) const {
    const HiveValue& v = Value(name);
    if (v.type != ValueType::String)
        throw RegistryError(Describe(name, JoinedPath()) + " ist keine Zeichenkette");
    return std::string(v.text);
}

std::int32_t RegKeyReader::ReadInteger(std::string_view name) const {
    const HiveValue& v = Value(name);
    if (v.type != ValueType::Dword)
        throw RegistryError(Describe(name, JoinedPath()) + " ist keine Ganzzahl (dword)");
    return static_cast<std::int32_t>(v.number);
}

RegKey::RegKey(Registry* registry, std::string keyPath)
    : registry_(registry), keyPath_(std::move(keyPath)), id_(++registry->state_->lastKeyId) {}

RegKey::RegKey(RegKey&& other) noexcept
    : registry_(std::exchange(other.registry_, nullptr)),
      keyPath_(std::move(other.keyPath_)),
      id_(std::exchange(other.id_, 0)) {}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
    if (this != &other) {
        Release();
        registry_ = std::exchange(other.registry_, nullptr);
        keyPath_ = std::move(other.keyPath_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

RegKey::~RegKey() {
    Release();
}

void RegKey::Release() noexcept {
    if (!registry_) return;
    try {
        registry_->Flush(id_);
    } catch (...) {
        // Nobody is left to tell; Close() reports such failures.
    }
    registry_->Forget(id_);
    registry_ = nullptr;
}

void RegKey::Close() {
    if (registry_) registry_->Flush(id_);
}

const HiveKey* RegKey::Current() const {
    if (!registry_) throw RegistryError("der Registrierungsschlüssel ist nicht geöffnet");
    return registry_->View().Find(SplitKeyPath(keyPath_));
}

const HiveValue& RegKey::Value(const std::string& name) const {
    const HiveKey* key = Current();
    const HiveValue* value = key ? key->FindValue(name) : nullptr;
    if (!value) throw RegistryError(Describe(name, keyPath_) + " fehlt");
    return *value;
}

bool RegKey::ValueExists(const std::string& name) const {
    const HiveKey* key = Current();
    return key && key->FindValue(name);
}

std::vector<std::string> RegKey::GetValueNames() const {
    std::vector<std::string> names;
    if (const HiveKey* key = Current())
        for (const HiveValue& v : key->values) names.emplace_back(v.name);
    return names;
}

std::vector<std::string> RegKey::GetKeyNames() const {
    std::vector<std::string> names;
    if (const HiveKey* key = Current())
        for (const HiveKey& sub : key->subkeys) names.emplace_back(sub.name);
    return names;
}

std::string RegKey::ReadString(const std::string& name) const {
    const HiveValue& v = Value(name);
    if (v.type != ValueType::String)
        throw RegistryError(Describe(name, keyPath_) + " ist keine Zeichenkette");
    return std::string(v.text);
}

std::int32_t RegKey::ReadInteger(const std::string& name) const {
    const HiveValue& v = Value(name);
    if (v.type != ValueType::Dword)
        throw RegistryError(Describe(name, keyPath_) + " ist keine Ganzzahl (dword)");
    return static_cast<std::int32_t>(v.number);
}

std::vector<std::uint8_t> RegKey::ReadBinaryData(const std::string& name) const {
    const HiveValue& v = Value(name);
    if (v.type != ValueType::Binary && v.type != ValueType::Other)
        throw RegistryError(Describe(name, keyPath_) + " enthält keine Binärdaten");
    return v.Bytes();
}

void RegKey::Store(ValueData value) {
    CheckNoLineBreak(value.name, "Wertname");
    if (!registry_) throw RegistryError("der Registrierungsschlüssel ist nicht geöffnet");
    // A file that cannot be parsed fails every write at once.
    registry_->Refresh();
    registry_->state_->Record({id_, SplitKeyPath(keyPath_), OpKind::SetValue, std::move(value)},
                              *registry_->hive_);
}

void RegKey::WriteString(const std::string& name, const std::string& value) {
    CheckNoLineBreak(value, "Text");
    ValueData v;
    v.name = name;
    v.type = ValueType::String;
    v.text = value;
    Store(std::move(v));
}

void RegKey::WriteInteger(const std::string& name, std::int32_t value) {
    ValueData v;
    v.name = name;
    v.type = ValueType::Dword;
    v.number = static_cast<std::uint32_t>(value);
    Store(std::move(v));
}

void RegKey::WriteBinaryData(const std::string& name, const std::vector<std::uint8_t>& value) {
    ValueData v;
    v.name = name;
    v.type = ValueType::Binary;
    v.bytes = value;
    Store(std::move(v));
}

bool RegKey::DeleteValue(const std::string& name) {
    if (!registry_) throw RegistryError("der Registrierungsschlüssel ist nicht geöffnet");
    registry_->Refresh();
    if (!ValueExists(name)) return false;
    ValueData v;
    v.name = name;
    registry_->state_->Record({id_, SplitKeyPath(keyPath_), OpKind::DeleteValue, std::move(v)},
                              *registry_->hive_);
    return true;
}

}  // namespace tolvar
