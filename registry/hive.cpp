#include "registry/hive.h"

#include <algorithm>
#include <cstdint>

namespace tolvar {

namespace {

char FoldUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

auto SubkeyPosition(std::vector<HiveKey>& keys, std::string_view name) {
    return std::lower_bound(
        keys.begin(), keys.end(), name,
        [](const HiveKey& k, std::string_view n) { return CompareNames(k.name, n) < 0; });
}

void AppendQuoted(std::string& out, std::string_view s) {
    out += '"';
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
}

constexpr char kHexDigits[] = "0123456789abcdef";

// A hex list wrapped as the registry editor wraps it: after a byte that leaves
// the line longer than 76 characters, a trailing backslash and a new line
// indented by two blanks.
void AppendHexList(std::string& out, std::size_t lineStart, std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<std::uint8_t>(bytes[i]);
        out += kHexDigits[byte >> 4];
        out += kHexDigits[byte & 0x0F];
        if (i + 1 == bytes.size()) break;
        out += ',';
        if (out.size() - lineStart > 76) {
            out += "\\\n  ";
            lineStart = out.size() - 2;
        }
    }
}

void AppendValue(std::string& out, const HiveValue& v) {
    const std::size_t lineStart = out.size();
    if (v.name.empty()) {
        out += '@';
    } else {
        AppendQuoted(out, v.name);
    }
    out += '=';
    switch (v.type) {
        case ValueType::String:
            AppendQuoted(out, v.text);
            break;
        case ValueType::Dword:
            out += "dword:";
            for (int shift = 28; shift >= 0; shift -= 4)
                out += kHexDigits[(v.number >> shift) & 0x0F];
            break;
        case ValueType::Binary:
            out += "hex:";
            AppendHexList(out, lineStart, v.bytes);
            break;
        case ValueType::Other:
            out += "hex(";
            out += v.typeTag;
            out += "):";
            AppendHexList(out, lineStart, v.bytes);
            break;
    }
    out += '\n';
}

// A root key gets its own line only when it holds values or nothing at all;
// otherwise its subkeys' lines name it.
void AppendKey(std::string& out, const HiveKey& key, const std::string& parentPath, bool isRoot) {
    std::string path = isRoot ? std::string() : parentPath + "\\";
    path += key.name;
    if (!isRoot || !key.values.empty() || key.subkeys.empty()) {
        out += '[';
        out += path;
        out += "]\n";
        for (const HiveValue& v : key.values) AppendValue(out, v);
        out += '\n';
    }
    for (const HiveKey& sub : key.subkeys) AppendKey(out, sub, path, false);
}

}  // namespace

int CompareNames(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] == b[i]) continue;
        const auto x = static_cast<unsigned char>(FoldUpper(a[i]));
        const auto y = static_cast<unsigned char>(FoldUpper(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool HiveValue::operator==(const ValueData& v) const {
    return NamesEqual(name, v.name) && type == v.type && number == v.number && text == v.text &&
           bytes ==
               std::string_view(reinterpret_cast<const char*>(v.bytes.data()), v.bytes.size()) &&
           typeTag == v.typeTag;
}

const HiveValue* HiveKey::FindValue(std::string_view valueName) const {
    for (const HiveValue& v : values)
        if (NamesEqual(v.name, valueName)) return &v;
    return nullptr;
}

void HiveKey::SetValue(const HiveValue& value) {
    for (HiveValue& v : values) {
        if (NamesEqual(v.name, value.name)) {
            const std::string_view kept = v.name;
            v = value;
            v.name = kept;
            return;
        }
    }
    // Keys mostly hold one or two values: room for two at once.
    if (values.empty()) values.reserve(2);
    values.push_back(value);
}

bool HiveKey::DeleteValue(std::string_view valueName) {
    const auto it = std::find_if(values.begin(), values.end(),
                                 [&](const HiveValue& v) { return NamesEqual(v.name, valueName); });
    if (it == values.end()) return false;
    values.erase(it);
    return true;
}

const HiveKey* HiveKey::FindSubkey(std::string_view keyName) const {
    return const_cast<HiveKey*>(this)->FindSubkey(keyName);
}

HiveKey* HiveKey::FindSubkey(std::string_view keyName) {
    const auto it = SubkeyPosition(subkeys, keyName);
    if (it == subkeys.end() || !NamesEqual(it->name, keyName)) return nullptr;
    return &*it;
}

HiveKey& HiveKey::AddSubkey(std::string_view keyName) {
    // Files and the program list keys in order: a new last key is the usual case.
    // A rule's caller key holds two or so entry keys: room for two at once.
    if (subkeys.empty()) subkeys.reserve(2);
    if (subkeys.empty() || CompareNames(subkeys.back().name, keyName) < 0) {
        subkeys.emplace_back().name = keyName;
        return subkeys.back();
    }
    const auto it = SubkeyPosition(subkeys, keyName);
    if (it != subkeys.end() && NamesEqual(it->name, keyName)) return *it;
    HiveKey& key = *subkeys.emplace(it);
    key.name = keyName;
    return key;
}

bool HiveKey::DeleteSubkey(std::string_view keyName) {
    const auto it = SubkeyPosition(subkeys, keyName);
    if (it == subkeys.end() || !NamesEqual(it->name, keyName)) return false;
    subkeys.erase(it);
    return true;
}

HiveText::HiveText(std::string file, std::shared_ptr<const HiveText> base)
    : base_(std::move(base)), file_(std::move(file)) {}

Hive::Hive() : top_(std::make_unique<HiveKey>()) {}

Hive::Hive(const Hive& other) : text_(other.text_), top_(std::make_unique<HiveKey>(*other.top_)) {}

Hive& Hive::operator=(Hive other) noexcept {
    std::swap(top_, other.top_);
    std::swap(text_, other.text_);
    return *this;
}

std::string Hive::Serialize() const {
    std::string out = "Windows Registry Editor Version 5.00\n\n";
    for (const HiveKey& root : top_->subkeys) AppendKey(out, root, "", true);
    return out;
}

const HiveKey* Hive::Find(const KeyPath& path) const {
    return const_cast<Hive*>(this)->Find(path);
}

HiveKey* Hive::Find(const KeyPath& path) {
    HiveKey* key = top_.get();
    for (const std::string& name : path) {
        key = key->FindSubkey(name);
        if (!key) return nullptr;
    }
    return path.empty() ? nullptr : key;
}

HiveKey& Hive::Create(const KeyPath& path) {
    HiveKey* key = top_.get();
    for (const std::string& name : path) {
        HiveKey* sub = key->FindSubkey(name);
        key = sub ? sub : &key->AddSubkey(Keep(name));
    }
    return *key;
}

void Hive::SetValue(HiveKey& key, const ValueData& value) {
    const HiveValue* old = key.FindValue(value.name);
    HiveValue v;
    v.name = old ? old->name : Keep(value.name);
    v.type = value.type;
    v.number = value.number;
    v.text = Keep(value.text);
    v.bytes = Keep(
        std::string_view(reinterpret_cast<const char*>(value.bytes.data()), value.bytes.size()));
    v.typeTag = Keep(value.typeTag);
    key.SetValue(v);
}

std::string_view Hive::Keep(std::string_view s) {
    if (s.empty()) return {};
    // Text shared with a copy stays as it is; this hive adds to a text of its own.
    if (!text_ || text_.use_count() > 1)
        text_ = std::make_shared<HiveText>(std::string(), std::move(text_));
    return text_->Keep(s);
}

bool Hive::Delete(const KeyPath& path) {
    if (path.empty()) return false;
    HiveKey* parent = top_.get();
    for (std::size_t i = 0; i + 1 < path.size(); ++i) {
        parent = parent->FindSubkey(path[i]);
        if (!parent) return false;
    }
    return parent->DeleteSubkey(path.back());
}

}  // namespace tolvar
