#pragma once
// The rule editor apart from its drawing: which node is selected, which items
// a menu offers, what each command does to the rule tree, the check of an
// edited label, and what a cell of the entry grid shows and lets the user
// edit. The window lays its controls over this; tests drive it directly.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/front_end.h"
#include "rules/rule_store.h"

namespace tolvar {

// The action list's items, in the order of the action codes.
inline constexpr std::array<const char*, 6> kActionTexts = {"Aus",      "Ausführen", "Sound",
                                                            "Abfangen", "SMS an",    ""};
// The grid's header row.
inline constexpr std::array<const char*, 3> kGridHeader = {"Startzeit:", "Aktion:", "Parameter:"};

// The tree's items: visible in its context menu, enabled in "&Datei".
struct TreeMenuItems {
    bool newMsn = true;       // "&Neue MSN"
    bool delMsn = false;      // "MSN en&tfernen"
    bool editMsn = false;     // "MSN &bearbeiten"
    bool newCaller = false;   // "Neue &Rufnummer", "Neue Ru&fnummer"
    bool delCaller = false;   // "Rufnummer ent&fernen"
    bool editCaller = false;  // "Rufnummer bea&rbeiten"
    bool operator==(const TreeMenuItems&) const = default;
};

// The entries' items: visible in the grid's context menu, enabled in "&Bearbeiten".
struct EntryMenuItems {
    bool newEntry = true;   // "&Neuer Eintrag"
    bool delEntry = false;  // "Eintrag entfernen", "Eintrag &entfernen"
    bool operator==(const EntryMenuItems&) const = default;
};

// What selecting a cell of the grid lays over it.
struct CellOverlay {
    bool timePicker = false;   // column 0, set to startTime
    bool actionList = false;   // column 1, set to action
    bool fileButton = false;   // column 2 of "Ausführen" and "Sound": the "..." button
    bool textEditing = false;  // column 2: the grid's own text editor may open
    double startTime = 0.0;
    std::int32_t action = kActionAus;
};

class RuleEditor {
  public:
    // activatePage brings up a page of the window ("Überwachung" for the
    // entry commands).
    RuleEditor(RuleStore& rules, std::function<void(Page)> activatePage);
    ~RuleEditor();
    RuleEditor(const RuleEditor&) = delete;
    RuleEditor& operator=(const RuleEditor&) = delete;

    RuleStore& Rules() const { return rules_; }
    // The selected node; none when the tree is empty or its node was deleted.
    RuleNode* Selected() const { return selected_; }
    // The selected caller node's entries; null unless a caller node is selected.
    TActionList* Entries() const;
    // The live node at this address, if there is one. The tree control keeps
    // addresses, which may outlive their nodes.
    RuleNode* NodeAt(std::uintptr_t address) const;
    // Grows with every selection and refresh: a window whose grid shows an
    // older one shows a stale list.
    std::uint64_t Generation() const { return generation_; }

    // A new selected node (or none); the refresh follows.
    void Select(RuleNode* node);
    // The refresh: the selected caller's entries sorted by start time.
    void Refresh();
    // At start: the first MSN node expanded with its children, its first
    // caller node (or itself) selected, the refresh run.
    void SelectFirst();

    // Menus, evaluated as they open. The tree's context menu first selects
    // the node under the pointer, if there is one.
    TreeMenuItems TreePopup(RuleNode* underPointer);
    TreeMenuItems FileMenu() const;
    EntryMenuItems EditMenu() const;
    EntryMenuItems GridPopup(std::optional<std::size_t> currentEntry) const;

    // Commands. New nodes are selected; the window puts them into label
    // editing. Deleting a selected node selects a neighbour.
    RuleNode& NewMsn();
    void DeleteMsn();
    // Under the selected MSN node, or under the selected caller's MSN node;
    // none without a selection.
    RuleNode* NewCaller();
    void DeleteCaller();
    // False when no caller node is selected.
    bool NewEntry();
    // Only for an existing entry of a caller node that has more than one.
    bool DeleteEntry(std::optional<std::size_t> currentEntry);

    // Label editing in place. The fallback labels are fixed.
    static bool IsFallback(const RuleNode& node);
    // False when the label may not be edited; otherwise remembers the old label.
    bool BeginEdit(RuleNode& node);
    // The label the user typed: nothing when it was taken, else the warning
    // to show, and the node keeps its old label. Line breaks become blanks.
    std::optional<std::string> EndEdit(RuleNode& node, const std::string& label);

    // The grid; entries count from 0 (the header row is none).
    CellOverlay SelectCell(std::size_t entry, int column) const;
    void SetStartTime(std::size_t entry, double timeOfDay);
    void SetAction(std::size_t entry, std::int32_t action);
    // Line breaks become blanks: the settings file holds one line.
    void SetParam(std::size_t entry, const std::string& param);
    // The file dialog of the "..." button; none for actions without a file.
    std::optional<Dialogs::FileChoice> FileChoiceFor(std::size_t entry,
                                                     const std::string& programFolder) const;
    // The warning to show when the path cannot be stored; the entry then
    // keeps its parameter.
    std::optional<std::string> FileChosen(std::size_t entry, const std::string& path);
    // The text a cell shows; column 2 the file-name part of the parameter.
    std::string CellText(std::size_t entry, int column) const;
    std::string Param(std::size_t entry) const;

  private:
    TActionItem& Entry(std::size_t entry) const;
    RuleNode* Neighbour(const RuleNode& node) const;
    void Forget(const RuleNode& node);
    bool CanDeleteEntry(std::optional<std::size_t> currentEntry) const;

    RuleStore& rules_;
    std::function<void(Page)> activatePage_;
    RuleNode* selected_ = nullptr;
    std::uint64_t generation_ = 0;
    // The node whose label is being edited, and its label before.
    const RuleNode* editing_ = nullptr;
    std::string oldLabel_;
};

// The warning for a chosen file whose path holds a line break.
extern const char* const kPathLineBreakWarning;

// A path as one word of a command line: blanks, quotes and backslashes are
// escaped, so that a chosen program in a folder with a blank still starts.
std::string CommandLineWord(const std::string& path);

}  // namespace tolvar
