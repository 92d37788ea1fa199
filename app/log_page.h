#pragma once
// The page "Ereignisprotokoll": the event log list with its context menu.

#include <QWidget>

class QAction;
class QListView;

namespace tolvar {

class LineListView;
class LineStore;
class TMainForm;

class LogPage final : public QWidget {
  public:
    explicit LogPage(TMainForm& form);

    // lines: the engine's event log, shown as it is.
    void Loaded(const LineStore& lines);
    void LineSet(int index, bool appended);
    void Cleared();
    // The engine and its event log are gone.
    void Detach();
    QListView* List() const;

  private:
    int SelectedRow() const;
    void SelectLast();
    void CopySelectedNumbers();

    TMainForm& form_;
    LineListView* LBTraceBox = nullptr;
    QAction* cmCopyNumbers = nullptr;
};

}  // namespace tolvar
