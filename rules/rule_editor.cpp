#include "rules/rule_editor.h"

#include <cmath>
#include <utility>

#include "core/datetime.h"
#include "core/error.h"
#include "core/program_start.h"

namespace tolvar {

namespace {

constexpr const char* kAllFiles = ";;Alle Dateien (*)";

}  // namespace

const char* const kPathLineBreakWarning =
    "Der Pfad enthält einen Zeilenumbruch und kann nicht gespeichert werden.";

std::string CommandLineWord(const std::string& path) {
    std::string word;
    for (const char c : path) {
        if (c == ' ' || c == '\t' || c == '\'' || c == '"' || c == '\\') word += '\\';
        word += c;
    }
    return word;
}

RuleEditor::RuleEditor(RuleStore& rules, std::function<void(Page)> activatePage)
    : rules_(rules), activatePage_(std::move(activatePage)) {
    rules_.SetRemovalListener([this](const RuleNode& node) { Forget(node); });
}

RuleEditor::~RuleEditor() {
    rules_.SetRemovalListener({});
}

TActionList* RuleEditor::Entries() const {
    return selected_ && selected_->IsCallerNode() ? selected_->Entries() : nullptr;
}

RuleNode* RuleEditor::NodeAt(std::uintptr_t address) const {
    for (const auto& msn : rules_.MsnNodes()) {
        if (reinterpret_cast<std::uintptr_t>(msn.get()) == address) return msn.get();
        for (const auto& caller : msn->Children())
            if (reinterpret_cast<std::uintptr_t>(caller.get()) == address) return caller.get();
    }
    return nullptr;
}

void RuleEditor::Select(RuleNode* node) {
    selected_ = node;
    Refresh();
}

void RuleEditor::Refresh() {
    ++generation_;
    if (TActionList* entries = Entries()) entries->SortEntries();
}

void RuleEditor::SelectFirst() {
    if (rules_.MsnNodes().empty()) {
        Select(nullptr);
        return;
    }
    RuleNode& first = *rules_.MsnNodes().front();
    first.Expanded = true;
    for (const auto& caller : first.Children()) caller->Expanded = true;
    Select(first.Children().empty() ? &first : first.Children().front().get());
}

TreeMenuItems RuleEditor::TreePopup(RuleNode* underPointer) {
    if (underPointer && underPointer != selected_) Select(underPointer);
    TreeMenuItems items;
    if (!underPointer) return items;
    items.delMsn = items.editMsn = underPointer->IsMsnNode();
    items.newCaller = true;
    items.delCaller = items.editCaller = underPointer->IsCallerNode() && !IsFallback(*underPointer);
    return items;
}

TreeMenuItems RuleEditor::FileMenu() const {
    TreeMenuItems items;
    if (!selected_) return items;
    items.delMsn = items.editMsn = selected_->IsMsnNode();
    items.newCaller = true;
    items.delCaller = items.editCaller = selected_->IsCallerNode() && !IsFallback(*selected_);
    return items;
}

EntryMenuItems RuleEditor::EditMenu() const {
    const TActionList* entries = Entries();
    return {.newEntry = entries != nullptr, .delEntry = entries && entries->Count() > 1};
}

EntryMenuItems RuleEditor::GridPopup(std::optional<std::size_t> currentEntry) const {
    return {.newEntry = true, .delEntry = CanDeleteEntry(currentEntry)};
}

bool RuleEditor::CanDeleteEntry(std::optional<std::size_t> currentEntry) const {
    const TActionList* entries = Entries();
    return currentEntry && entries && entries->Count() > 1 && *currentEntry < entries->Count();
}

RuleNode& RuleEditor::NewMsn() {
    RuleNode& node = rules_.AddMsnNode();
    Select(&node);
    return node;
}

void RuleEditor::DeleteMsn() {
    if (!selected_ || !selected_->IsMsnNode()) return;
    RuleNode* next = Neighbour(*selected_);
    rules_.DeleteMsnNode(*selected_);
    Select(next);
}

RuleNode* RuleEditor::NewCaller() {
    if (!selected_) return nullptr;
    RuleNode& msn = selected_->IsCallerNode() ? *selected_->Parent() : *selected_;
    RuleNode& node = rules_.AddCallerNode(msn, "");
    Select(&node);
    return &node;
}

void RuleEditor::DeleteCaller() {
    // The fallbacks go only with their MSN node, whatever asks.
    if (!selected_ || !selected_->IsCallerNode() || IsFallback(*selected_)) return;
    RuleNode* next = Neighbour(*selected_);
    rules_.DeleteCallerNode(*selected_);
    Select(next);
}

bool RuleEditor::NewEntry() {
    TActionList* entries = Entries();
    if (!entries) return false;
    entries->Add();
    if (activatePage_) activatePage_(Page::Ueberwachung);
    return true;
}

bool RuleEditor::DeleteEntry(std::optional<std::size_t> currentEntry) {
    if (!CanDeleteEntry(currentEntry)) return false;
    if (activatePage_) activatePage_(Page::Ueberwachung);
    Entries()->Delete(*currentEntry);
    return true;
}

bool RuleEditor::IsFallback(const RuleNode& node) {
    return node.Text() == kUnknownCaller || node.Text() == kOtherCallers;
}

bool RuleEditor::BeginEdit(RuleNode& node) {
    if (IsFallback(node)) return false;
    editing_ = &node;
    oldLabel_ = node.Text();
    return true;
}

std::optional<std::string> RuleEditor::EndEdit(RuleNode& node, const std::string& label) {
    const std::string old = editing_ == &node ? oldLabel_ : node.Text();
    editing_ = nullptr;
    // A fallback keeps its label even if an editor was opened on it anyway.
    if (IsFallback(node)) return std::nullopt;
    const std::string line = OneLine(label);
    std::optional<std::string> warning = CheckEditedLabel(line);
    rules_.SetLabel(node, warning ? old : line);
    return warning;
}

CellOverlay RuleEditor::SelectCell(std::size_t entry, int column) const {
    CellOverlay overlay;
    const TActionList* entries = Entries();
    if (!entries || entry >= entries->Count()) return overlay;
    const TActionItem& item = (*entries)[entry];
    overlay.startTime = item.StartTime;
    overlay.action = item.Action;
    overlay.timePicker = column == 0;
    overlay.actionList = column == 1;
    overlay.textEditing = column == 2;
    overlay.fileButton =
        column == 2 && (item.Action == kActionAusfuehren || item.Action == kActionSound);
    return overlay;
}

TActionItem& RuleEditor::Entry(std::size_t entry) const {
    TActionList* entries = Entries();
    if (!entries) throw TolvarError("keine Rufnummer ausgewählt");
    return (*entries)[entry];
}

void RuleEditor::SetStartTime(std::size_t entry, double timeOfDay) {
    // Only the time of day counts; seconds stay until the next save drops them.
    double fraction = timeOfDay - std::floor(timeOfDay);
    if (!std::isfinite(fraction)) fraction = 0.0;
    Entry(entry).StartTime = fraction;
}

void RuleEditor::SetAction(std::size_t entry, std::int32_t action) {
    if (action < 0 || static_cast<std::size_t>(action) >= kActionTexts.size())
        throw TolvarError("Aktion " + std::to_string(action) + " gibt es nicht");
    TActionItem& item = Entry(entry);
    item.Action = action;
    if (action == kActionAus || action == kActionAbfangen) item.Param.clear();
}

void RuleEditor::SetParam(std::size_t entry, const std::string& param) {
    Entry(entry).Param = OneLine(param);
}

std::optional<Dialogs::FileChoice> RuleEditor::FileChoiceFor(
    std::size_t entry, const std::string& programFolder) const {
    switch (Entry(entry).Action) {
        case kActionAusfuehren:
            return Dialogs::FileChoice{.title = "Anwendung auswählen.",
                                       .filter = std::string("Anwendungen (*)") + kAllFiles,
                                       .startFolder = programFolder};
        case kActionSound:
            return Dialogs::FileChoice{
                .title = "Audiodatei auswählen.",
                .filter = std::string("Audiodateien (*.wav *.WAV)") + kAllFiles,
                .startFolder = programFolder};
        default:
            return std::nullopt;
    }
}

std::optional<std::string> RuleEditor::FileChosen(std::size_t entry, const std::string& path) {
    TActionItem& item = Entry(entry);
    // Made one line, it would name another file.
    if (path.find_first_of("\r\n") != std::string::npos) return std::string(kPathLineBreakWarning);
    // A program's path is the whole command line and is split into words
    // when it starts; a sound's path is used as it is.
    item.Param = item.Action == kActionAusfuehren ? CommandLineWord(path) : path;
    return std::nullopt;
}

std::string RuleEditor::CellText(std::size_t entry, int column) const {
    const TActionItem& item = Entry(entry);
    switch (column) {
        case 0:
            return FormatLongTime(item.StartTime - std::floor(item.StartTime));
        case 1:
            // A code that only a hand-edited file can hold shows as a number.
            if (item.Action >= 0 && static_cast<std::size_t>(item.Action) < kActionTexts.size())
                return kActionTexts[static_cast<std::size_t>(item.Action)];
            return std::to_string(item.Action);
        case 2:
            return FileNamePart(item.Param);
        default:
            return "";
    }
}

std::string RuleEditor::Param(std::size_t entry) const {
    return Entry(entry).Param;
}

RuleNode* RuleEditor::Neighbour(const RuleNode& node) const {
    const RuleNode::Nodes& siblings = node.Parent() ? node.Parent()->Children() : rules_.MsnNodes();
    for (std::size_t i = 0; i < siblings.size(); ++i) {
        if (siblings[i].get() != &node) continue;
        if (i + 1 < siblings.size()) return siblings[i + 1].get();
        if (i > 0) return siblings[i - 1].get();
    }
    return node.Parent();
}

void RuleEditor::Forget(const RuleNode& node) {
    if (editing_ == &node) editing_ = nullptr;
    if (selected_ == &node) {
        selected_ = nullptr;
        ++generation_;
    }
}

}  // namespace tolvar
