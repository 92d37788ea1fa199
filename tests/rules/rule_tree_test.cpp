// The rule tree in memory: adding, deleting and relabelling nodes with their
// side effects, and the lookup of MSN and caller nodes for a call.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/error.h"
#include "rules/rule_store.h"

namespace tolvar {
namespace {

// A store that records the pages it activates and its change notices.
struct Recorded {
    std::vector<Page> pages;
    int changes = 0;
    RuleStore store{[this](Page p) { pages.push_back(p); }, [this] { ++changes; }};
};

std::vector<std::string> Labels(const RuleNode::Nodes& nodes) {
    std::vector<std::string> labels;
    for (const auto& n : nodes) labels.push_back(n->Text());
    return labels;
}

using LabelList = std::vector<std::string>;

TEST(RuleTree, NewMsnNodeHasTheFallbackCallers) {
    Recorded r;
    RuleNode& msn = r.store.AddMsnNode();
    EXPECT_EQ(msn.Text(), "");
    EXPECT_TRUE(msn.IsMsnNode());
    EXPECT_EQ(msn.Entries(), nullptr);
    EXPECT_TRUE(msn.Expanded);
    EXPECT_EQ(Labels(msn.Children()), (LabelList{"Unbekannt/Analog", "Sonstige"}));
    for (const auto& caller : msn.Children()) {
        EXPECT_EQ(caller->Parent(), &msn);
        ASSERT_NE(caller->Entries(), nullptr);
        ASSERT_EQ(caller->Entries()->Count(), 1u);
        EXPECT_EQ((*caller->Entries())[0].StartTime, 0.0);
        EXPECT_EQ((*caller->Entries())[0].Action, kActionAus);
        EXPECT_EQ((*caller->Entries())[0].Param, "");
    }
    EXPECT_EQ(r.pages, std::vector<Page>{Page::Ueberwachung});
    EXPECT_EQ(r.changes, 1);

    // A second one goes after the first, whatever its label.
    r.store.SetLabel(msn, "5551234");
    RuleNode& second = r.store.AddMsnNode();
    EXPECT_EQ(r.store.MsnNodes().back().get(), &second);
}

TEST(RuleTree, NewCallerGoesLastAndExpandsItsMsn) {
    Recorded r;
    RuleNode& msn = r.store.AddMsnNode();
    msn.Expanded = false;
    r.pages.clear();
    RuleNode& caller = r.store.AddCallerNode(msn, "0178");
    RuleNode& empty = r.store.AddCallerNode(msn, "");
    EXPECT_EQ(Labels(msn.Children()), (LabelList{"Unbekannt/Analog", "Sonstige", "0178", ""}));
    EXPECT_TRUE(caller.IsCallerNode());
    EXPECT_EQ(caller.Entries()->Count(), 1u);
    EXPECT_EQ(empty.Entries()->Count(), 1u);
    EXPECT_TRUE(msn.Expanded);
    for (const auto& c : msn.Children()) EXPECT_TRUE(c->Expanded);
    EXPECT_EQ(r.pages, (std::vector<Page>{Page::Ueberwachung, Page::Ueberwachung}));

    // Only an MSN node of this tree can take a caller.
    EXPECT_THROW(r.store.AddCallerNode(caller, "1"), TolvarError);
    RuleStore other;
    EXPECT_THROW(r.store.AddCallerNode(other.AddMsnNode(), "1"), TolvarError);
}

TEST(RuleTree, DeletingNodesActivatesTheRulesPage) {
    Recorded r;
    RuleNode& keep = r.store.AddMsnNode();
    RuleNode& gone = r.store.AddMsnNode();
    r.store.SetLabel(keep, "1");
    r.store.SetLabel(gone, "2");
    r.pages.clear();
    r.changes = 0;

    r.store.DeleteCallerNode(*keep.Children().front());
    EXPECT_EQ(Labels(keep.Children()), (LabelList{"Sonstige"}));
    EXPECT_EQ(r.pages.size(), 1u);
    EXPECT_EQ(r.changes, 1);

    // One activation per deleted child, as each goes through DeleteCallerNode.
    r.store.DeleteMsnNode(gone);
    EXPECT_EQ(Labels(r.store.MsnNodes()), (LabelList{"1"}));
    EXPECT_EQ(r.pages, std::vector<Page>(3, Page::Ueberwachung));
    EXPECT_EQ(r.changes, 2);

    // Nodes of another tree, or of the wrong level, are refused.
    RuleStore other;
    RuleNode& foreign = other.AddMsnNode();
    EXPECT_THROW(r.store.DeleteMsnNode(foreign), TolvarError);
    EXPECT_THROW(r.store.DeleteCallerNode(*foreign.Children().front()), TolvarError);
    EXPECT_THROW(r.store.DeleteMsnNode(*keep.Children().front()), TolvarError);
    EXPECT_THROW(r.store.DeleteCallerNode(keep), TolvarError);
    EXPECT_EQ(keep.Children().size(), 1u);
}

TEST(RuleTree, SettingALabelResortsOnlyItsSiblings) {
    Recorded r;
    RuleNode& first = r.store.AddMsnNode();
    RuleNode& second = r.store.AddMsnNode();
    r.pages.clear();

    RuleNode& added = r.store.AddCallerNode(second, "");
    r.store.SetLabel(added, "0711 Büro");
    EXPECT_EQ(Labels(second.Children()), (LabelList{"0711 Büro", "Sonstige", "Unbekannt/Analog"}));
    EXPECT_EQ(Labels(first.Children()), (LabelList{"Unbekannt/Analog", "Sonstige"}));
    EXPECT_EQ(added.Parent(), &second);

    r.store.SetLabel(first, "5551234 Fax");
    r.store.SetLabel(second, "5551234 Büro");
    EXPECT_EQ(Labels(r.store.MsnNodes()), (LabelList{"5551234 Büro", "5551234 Fax"}));
    r.store.SetLabel(first, "");
    EXPECT_EQ(Labels(r.store.MsnNodes()), (LabelList{"", "5551234 Büro"}));
    EXPECT_EQ(r.pages.size(), 1u);  // only AddCallerNode activated the page
}

TEST(RuleTree, FindMsnNode) {
    RuleStore store;
    RuleNode& buero = store.AddMsnNode();
    RuleNode& fax = store.AddMsnNode();
    RuleNode& empty = store.AddMsnNode();
    RuleNode& fallback = store.AddMsnNode();
    store.SetLabel(buero, "5551234 Büro");
    store.SetLabel(fax, "5551234 Fax");
    store.SetLabel(fallback, kDefaultMsnLabel);
    // Tree order now: "", "5551234 Büro", "5551234 Fax", "Ihre TEL/FAX Nummer !".
    struct Case {
        const char* called;
        const RuleNode* expected;
    };
    const Case cases[] = {
        {"5551234", &fax},                           // the last equal node wins
        {"", &empty},          {"555123", nullptr},  // no prefix matching here
        {"55512345", nullptr}, {"5559999", nullptr},
    };
    for (const auto& c : cases) EXPECT_EQ(store.FindMsnNode(c.called), c.expected) << c.called;

    // The default label's number part is "Ihre": no called number looks like it.
    RuleStore defaults;
    defaults.SetLabel(defaults.AddMsnNode(), kDefaultMsnLabel);
    EXPECT_EQ(defaults.FindMsnNode(""), nullptr);
    EXPECT_EQ(defaults.FindMsnNode("5551234"), nullptr);
}

TEST(RuleTree, FindCallerNodeByLongestPrefix) {
    RuleStore store;
    RuleNode& plain = store.AddMsnNode();
    RuleNode& named = store.AddMsnNode();
    store.AddCallerNode(plain, "0178");
    store.AddCallerNode(plain, "017812");
    store.AddCallerNode(plain, "0178 Zweite");  // as long as "0178", later: never wins
    store.AddCallerNode(named, "017812 Mutter");
    store.AddCallerNode(named, "0178");

    const auto find = [&](const RuleNode& msn, const char* calling) -> std::string {
        const RuleNode* node = RuleStore::FindCallerNode(msn, calling);
        if (!node) return "(none)";
        EXPECT_EQ(node->Parent(), &msn);
        return node->Text();
    };
    struct Case {
        const RuleNode& msn;
        const char* calling;
        const char* expected;
    };
    const Case cases[] = {
        {plain, "017812345", "017812"},
        {plain, "0178345", "0178"},
        {plain, "0178", "0178"},
        {plain, "0711", "Sonstige"},
        {plain, "017", "Sonstige"},
        {plain, "Unbekannt/Analog", "Unbekannt/Analog"},
        {named, "017812345", "017812 Mutter"},
        {named, "0178345", "0178"},
        {named, "Unbekannt/Analog", "Unbekannt/Analog"},
    };
    for (const auto& c : cases) EXPECT_EQ(find(c.msn, c.calling), c.expected) << c.calling;

    // Without "Sonstige" an unmatched caller finds nothing.
    for (const auto& child : plain.Children())
        if (child->Text() == "Sonstige") {
            store.DeleteCallerNode(*child);
            break;
        }
    EXPECT_EQ(find(plain, "0711"), "(none)");
    EXPECT_EQ(find(plain, "017812345"), "017812");
}

TEST(RuleTree, SelectEntryOfACallerNode) {
    RuleStore store;
    RuleNode& msn = store.AddMsnNode();
    RuleNode& caller = store.AddCallerNode(msn, "0178");
    caller.Entries()->Add({0.75, kActionSound, "b.wav"});
    EXPECT_EQ(RuleStore::SelectEntry(caller, 0.5), 0u);
    EXPECT_EQ(RuleStore::SelectEntry(caller, 0.8), 1u);
    caller.Entries()->Delete(0);
    caller.Entries()->Delete(0);
    EXPECT_EQ(RuleStore::SelectEntry(caller, 0.5), std::nullopt);
    EXPECT_EQ(RuleStore::SelectEntry(msn, 0.5), std::nullopt);
}

}  // namespace
}  // namespace tolvar
