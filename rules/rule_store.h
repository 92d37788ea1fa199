#pragma once
// The rule tree: MSN nodes (own numbers) at the top, caller nodes (calling
// numbers or prefixes, and the fallbacks "Unbekannt/Analog" and "Sonstige")
// below them, each caller node with its entries. The engine holds one
// RuleStore; the editor works on it directly and the call monitor looks rules
// up in it. Everything runs on the engine's thread.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/front_end.h"
#include "rules/action_list.h"
#include "rules/number_text.h"

namespace tolvar {

class Registry;
class RegKeyReader;

inline constexpr const char* kRulesKey = "\\Software\\Brenwick\\Tolvar\\MSN";
inline constexpr const char* kUnknownCaller = "Unbekannt/Analog";
inline constexpr const char* kOtherCallers = "Sonstige";
inline constexpr const char* kDefaultMsnLabel = "Ihre TEL/FAX Nummer !";

class RuleNode {
  public:
    using Nodes = std::vector<std::unique_ptr<RuleNode>>;

    const std::string& Text() const { return text_; }  // UTF-8; change it with RuleStore::SetLabel
    RuleNode* Parent() const { return parent_; }       // null for an MSN node
    bool IsMsnNode() const { return parent_ == nullptr; }
    bool IsCallerNode() const { return parent_ != nullptr; }
    const Nodes& Children() const { return children_; }  // in tree order; none below a caller node

    // A caller node's entries; null for an MSN node.
    TActionList* Entries() { return entries_ ? &*entries_ : nullptr; }
    const TActionList* Entries() const { return entries_ ? &*entries_ : nullptr; }

    // Shown expanded in the tree; the tree control may change it freely.
    bool Expanded = false;

  private:
    friend class RuleStore;

    std::string text_;
    RuleNode* parent_ = nullptr;
    Nodes children_;
    std::optional<TActionList> entries_;  // in the node: one allocation less per caller
};

class RuleStore {
  public:
    // activatePage: makes a page of the window the active one (adding and
    // deleting nodes brings up "Überwachung"). changed: the tree's nodes or
    // labels changed, once per operation; the window redraws its tree then.
    explicit RuleStore(std::function<void(Page)> activatePage = {},
                       std::function<void()> changed = {});

    const RuleNode::Nodes& MsnNodes() const { return msnNodes_; }

    // Replaces the tree with the rules stored under kRulesKey; on a first start
    // (nothing stored) the tree gets the default MSN node. A malformed entry
    // key, an entry without an integer "Action" or an unreadable hive stops the
    // load with a TolvarError naming the key: the rules read before it stay in
    // the tree, no default node is added, and SaveRules refuses to run until a
    // later load succeeds, so the rules that could not be read stay stored.
    void LoadRules(Registry& registry);
    // Replaces the stored rules with the tree. Skips caller nodes with an empty
    // label or no entries and nodes whose label holds a backslash. Throws
    // TolvarError, writing nothing, after a failed load; a registry error ends
    // the save where it happens.
    void SaveRules(Registry& registry);
    // Why the last load failed; nothing if it succeeded or none was made.
    const std::optional<std::string>& LoadError() const { return loadError_; }

    // A new MSN node with an empty label, after the others, with the caller
    // nodes "Unbekannt/Analog" and "Sonstige" (one new entry each); expanded.
    RuleNode& AddMsnNode();
    // A new caller node after the MSN node's others, holding one new entry;
    // the MSN node and all its children are expanded.
    RuleNode& AddCallerNode(RuleNode& msnNode, const std::string& label);
    // Frees the node and its entries. The node must not be used afterwards.
    void DeleteCallerNode(RuleNode& callerNode);
    // Deletes every child with DeleteCallerNode, then the node itself.
    void DeleteMsnNode(RuleNode& msnNode);
    // Gives a node a new label and re-sorts it among its siblings (ascending,
    // locale-aware, case-sensitive). Labels typed by the user are checked with
    // CheckEditedLabel first.
    void SetLabel(RuleNode& node, const std::string& label);

    // The lookup for an incoming call, in this order.
    // The last MSN node whose number part equals calledNumber exactly.
    const RuleNode* FindMsnNode(const std::string& calledNumber) const;
    // The caller node with the longest number part that begins callingNumber
    // (the first of equal length), else the same for formerNumber (how the
    // number was once shown; empty: none), else the first node labelled
    // "Sonstige".
    static const RuleNode* FindCallerNode(const RuleNode& msnNode, const std::string& callingNumber,
                                          const std::string& formerNumber = {});
    // The index of the entry in force at timeOfDay (see SelectEntry on lists).
    static std::optional<std::size_t> SelectEntry(const RuleNode& callerNode, double timeOfDay);

    // Orders two labels as the tree does.
    static bool LabelLess(const std::string& a, const std::string& b);

    // Told of every node just before it is freed: a deleted node, and every
    // node of a tree that a load replaces. The editor forgets its selection.
    void SetRemovalListener(std::function<void(const RuleNode&)> listener) {
        removing_ = std::move(listener);
    }

  private:
    void Clear();
    RuleNode& BuildMsnNode();  // AddMsnNode without the change notice
    RuleNode& NewMsnNode(std::string label);
    static RuleNode& NewCallerNode(RuleNode& msnNode, std::string label, TActionList entries);
    // The caller keys below an MSN key into msn, which has its place in the
    // tree already, a caller at a time: a malformed entry throws with the
    // callers before it in msn.
    static void ReadCallers(const RegKeyReader& msnKey, RuleNode& msn);
    void RemoveCallerNode(RuleNode& callerNode);
    void Relabel(RuleNode& node, const std::string& label);
    void ReadRules(Registry& registry);
    RuleNode& CheckMsnNode(RuleNode& node) const;
    RuleNode& CheckCallerNode(RuleNode& node) const;
    void ActivateRulesPage();
    void Changed();
    void Removing(const RuleNode& node);

    std::function<void(Page)> activatePage_;
    std::function<void()> changed_;
    std::function<void(const RuleNode&)> removing_;
    RuleNode::Nodes msnNodes_;
    std::optional<std::string> loadError_;
};

}  // namespace tolvar
