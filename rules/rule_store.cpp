#include "rules/rule_store.h"

#include <algorithm>
#include <exception>
#include <locale>
#include <utility>

#include "core/error.h"

namespace tolvar {

namespace {

// The user's locale, or the classic one where the environment names a locale
// the system does not have.
const std::collate<char>& UserCollate() {
    static const std::locale locale = [] {
        try {
            return std::locale("");
        } catch (const std::exception&) {
            return std::locale::classic();
        }
    }();
    return std::use_facet<std::collate<char>>(locale);
}

// The number of a label, as SplitNumberText has it, without a copy: every
// call looks at every caller node of its own number.
std::string_view NumberPart(const std::string& label) {
    return std::string_view(label).substr(0, label.find(' '));
}

TActionList NewEntryList() {
    TActionList list;
    list.Add();
    return list;
}

}  // namespace

RuleStore::RuleStore(std::function<void(Page)> activatePage, std::function<void()> changed)
    : activatePage_(std::move(activatePage)), changed_(std::move(changed)) {}

bool RuleStore::LabelLess(const std::string& a, const std::string& b) {
    return UserCollate().compare(a.data(), a.data() + a.size(), b.data(), b.data() + b.size()) < 0;
}

RuleNode& RuleStore::AddMsnNode() {
    RuleNode& node = BuildMsnNode();
    Changed();
    return node;
}

RuleNode& RuleStore::BuildMsnNode() {
    RuleNode& node = NewMsnNode("");
    NewCallerNode(node, kUnknownCaller, NewEntryList());
    NewCallerNode(node, kOtherCallers, NewEntryList());
    node.Expanded = true;
    ActivateRulesPage();
    return node;
}

RuleNode& RuleStore::AddCallerNode(RuleNode& msnNode, const std::string& label) {
    RuleNode& node = NewCallerNode(CheckMsnNode(msnNode), label, NewEntryList());
    msnNode.Expanded = true;
    for (auto& child : msnNode.children_) child->Expanded = true;
    ActivateRulesPage();
    Changed();
    return node;
}

void RuleStore::DeleteCallerNode(RuleNode& callerNode) {
    CheckCallerNode(callerNode);
    ActivateRulesPage();
    RemoveCallerNode(callerNode);
    Changed();
}

void RuleStore::DeleteMsnNode(RuleNode& msnNode) {
    CheckMsnNode(msnNode);
    while (!msnNode.children_.empty()) {
        ActivateRulesPage();
        RemoveCallerNode(*msnNode.children_.front());
    }
    Removing(msnNode);
    std::erase_if(msnNodes_, [&](const auto& n) { return n.get() == &msnNode; });
    Changed();
}

void RuleStore::SetLabel(RuleNode& node, const std::string& label) {
    if (node.IsMsnNode())
        CheckMsnNode(node);
    else
        CheckCallerNode(node);
    Relabel(node, label);
    Changed();
}

const RuleNode* RuleStore::FindMsnNode(const std::string& calledNumber) const {
    const RuleNode* found = nullptr;
    for (const auto& node : msnNodes_)
        if (NumberPart(node->text_) == calledNumber) found = node.get();
    return found;
}

const RuleNode* RuleStore::FindCallerNode(const RuleNode& msnNode, const std::string& callingNumber,
                                          const std::string& formerNumber) {
    const auto longestPrefix = [&msnNode](const std::string& calling) {
        const RuleNode* found = nullptr;
        std::size_t foundLength = 0;
        for (const auto& node : msnNode.children_) {
            const std::string_view number = NumberPart(node->text_);
            if (!number.empty() && number.size() > foundLength && calling.starts_with(number)) {
                found = node.get();
                foundLength = number.size();
            }
        }
        return found;
    };
    if (const RuleNode* found = longestPrefix(callingNumber)) return found;
    if (!formerNumber.empty())
        if (const RuleNode* found = longestPrefix(formerNumber)) return found;
    for (const auto& node : msnNode.children_)
        if (node->text_ == kOtherCallers) return node.get();
    return nullptr;
}

std::optional<std::size_t> RuleStore::SelectEntry(const RuleNode& callerNode, double timeOfDay) {
    if (!callerNode.entries_) return std::nullopt;
    return tolvar::SelectEntry(*callerNode.entries_, timeOfDay);
}

void RuleStore::Clear() {
    for (const auto& msn : msnNodes_) {
        for (const auto& caller : msn->children_) Removing(*caller);
        Removing(*msn);
    }
    msnNodes_.clear();
}

RuleNode& RuleStore::NewMsnNode(std::string label) {
    auto node = std::make_unique<RuleNode>();
    node->text_ = std::move(label);
    msnNodes_.push_back(std::move(node));
    return *msnNodes_.back();
}

RuleNode& RuleStore::NewCallerNode(RuleNode& msnNode, std::string label, TActionList entries) {
    auto node = std::make_unique<RuleNode>();
    node->text_ = std::move(label);
    node->parent_ = &msnNode;
    node->entries_.emplace(std::move(entries));
    msnNode.children_.push_back(std::move(node));
    return *msnNode.children_.back();
}

void RuleStore::RemoveCallerNode(RuleNode& callerNode) {
    Removing(callerNode);
    std::erase_if(callerNode.parent_->children_,
                  [&](const auto& n) { return n.get() == &callerNode; });
}

void RuleStore::Relabel(RuleNode& node, const std::string& label) {
    node.text_ = label;
    RuleNode::Nodes& siblings = node.parent_ ? node.parent_->children_ : msnNodes_;
    std::stable_sort(siblings.begin(), siblings.end(),
                     [](const auto& a, const auto& b) { return LabelLess(a->text_, b->text_); });
}

RuleNode& RuleStore::CheckMsnNode(RuleNode& node) const {
    for (const auto& n : msnNodes_)
        if (n.get() == &node) return node;
    throw TolvarError("der Knoten \"" + node.text_ + "\" ist keine MSN dieses Regelbaums");
}

RuleNode& RuleStore::CheckCallerNode(RuleNode& node) const {
    if (node.parent_) {
        for (const auto& msn : msnNodes_) {
            if (msn.get() != node.parent_) continue;
            for (const auto& n : msn->children_)
                if (n.get() == &node) return node;
        }
    }
    throw TolvarError("der Knoten \"" + node.text_ + "\" ist keine Rufnummer dieses Regelbaums");
}

void RuleStore::ActivateRulesPage() {
    if (activatePage_) activatePage_(Page::Ueberwachung);
}

void RuleStore::Changed() {
    if (changed_) changed_();
}

void RuleStore::Removing(const RuleNode& node) {
    if (removing_) removing_(node);
}

}  // namespace tolvar
