// The rule editor's logic where the window cannot show it: selections that
// outlive their nodes, values no control offers, and chosen program paths.

#include <gtest/gtest.h>

#include "core/error.h"
#include "core/program_start.h"
#include "registry/registry.h"
#include "rules/rule_editor.h"
#include "temp_hive.h"

namespace tolvar {
namespace {

TEST(RuleEditor, ReloadingTheTreeDropsTheSelectionOfItsOldNodes) {
    RuleStore store;
    RuleEditor editor(store, {});
    test::TempHive hive;
    Registry registry(hive.Path());
    store.LoadRules(registry);
    editor.SelectFirst();
    ASSERT_TRUE(editor.Entries());
    const auto generation = editor.Generation();
    store.LoadRules(registry);
    EXPECT_EQ(editor.Selected(), nullptr);
    EXPECT_EQ(editor.Entries(), nullptr);
    EXPECT_GT(editor.Generation(), generation);
    // Commands without a selection change nothing.
    EXPECT_EQ(editor.NewCaller(), nullptr);
    EXPECT_FALSE(editor.NewEntry());
    editor.DeleteMsn();
    editor.DeleteCaller();
    EXPECT_EQ(store.MsnNodes().size(), 1u);
}

TEST(RuleEditor, ValuesNoControlOffersAreRefusedOrMended) {
    RuleStore store;
    RuleEditor editor(store, {});
    RuleNode& msn = editor.NewMsn();
    editor.Select(msn.Children().front().get());  // "Unbekannt/Analog"
    // A fallback keeps its label, even if an editor was opened on it.
    EXPECT_FALSE(editor.BeginEdit(*editor.Selected()));
    EXPECT_EQ(editor.EndEdit(*editor.Selected(), "0301111"), std::nullopt);
    EXPECT_EQ(editor.Selected()->Text(), "Unbekannt/Analog");
    // A backslash would nest registry keys.
    EXPECT_EQ(editor.EndEdit(msn, "5551234 B\\ro"), std::string(kLabelBackslashWarning));
    EXPECT_EQ(msn.Text(), "");

    EXPECT_THROW(editor.SetAction(0, 6), TolvarError);
    EXPECT_THROW(editor.SetAction(0, -1), TolvarError);
    EXPECT_THROW(editor.SetParam(1, "x"), TolvarError);
    EXPECT_EQ(editor.SelectCell(1, 0).timePicker, false);
    // Only the time of day counts.
    editor.SetStartTime(0, 41000.25);
    EXPECT_EQ(editor.CellText(0, 0), "06:00:00");
    editor.SetStartTime(0, -0.25);
    EXPECT_EQ(editor.CellText(0, 0), "18:00:00");
    // A code only a hand-edited file holds shows as a number.
    (*editor.Entries())[0].Action = 9;
    EXPECT_EQ(editor.CellText(0, 1), "9");
    EXPECT_FALSE(editor.SelectCell(0, 2).fileButton);
}

TEST(RuleEditor, AChosenProgramStartsWhateverItsPathHolds) {
    RuleStore store;
    RuleEditor editor(store, {});
    editor.NewMsn();
    editor.Select(store.MsnNodes()[0]->Children()[0].get());
    editor.SetAction(0, kActionAusfuehren);
    for (const std::string path :
         {"/usr/bin/prog", "/opt/my tools/run", "/a'b/c\"d\\e", "/tab\there", "/$HOME/`x`"}) {
        SCOPED_TRACE(path);
        editor.FileChosen(0, path);
        EXPECT_EQ(SplitCommandLine(editor.Param(0)), std::vector<std::string>{path});
    }
    // A sound's path is used as it is.
    editor.SetAction(0, kActionSound);
    editor.FileChosen(0, "/snd/neu 1.wav");
    EXPECT_EQ(editor.Param(0), "/snd/neu 1.wav");
}

}  // namespace
}  // namespace tolvar
