#pragma once
// The page "Ereignisprotokoll": the event log list with its context menu.

#include <QWidget>
#include <string>
#include <vector>

class QAction;
class QListWidget;

namespace tolvar {

class TMainForm;

class LogPage final : public QWidget {
  public:
    explicit LogPage(TMainForm& form);

    void Loaded(const std::vector<std::string>& lines);
    void LineSet(int index, const std::string& text, bool appended);
    void Cleared();
    QListWidget* List() const { return LBTraceBox; }

  private:
    void CopySelectedNumbers();

    TMainForm& form_;
    QListWidget* LBTraceBox = nullptr;
    QAction* cmCopyNumbers = nullptr;
};

}  // namespace tolvar
