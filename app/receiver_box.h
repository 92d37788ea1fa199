#pragma once
// A receiver box in the always-open list style: an edit line above the
// sorted list of remembered receivers. Picking an entry puts it into the
// line; typing "/", "." or "," has no effect; the list's context menu holds
// "Eintrag entfernen".

#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QLineEdit;
class QListWidget;

namespace tolvar {

class ReceiverBox final : public QWidget {
  public:
    // name: the box's object name (its line and list add "Edit" and "List");
    // accessibleName: what a screen reader calls the list.
    ReceiverBox(const QString& name, const QString& accessibleName);

    QLineEdit* Edit() const { return edit_; }
    QListWidget* List() const { return list_; }
    QAction* RemoveAction() const { return remove_; }

    // The remembered entries, shown sorted (letter case aside).
    void SetItems(const std::vector<std::string>& items);
    // The list's selected entry, if there is one.
    std::optional<std::string> Selected() const;
    // "Eintrag entfernen" was chosen.
    std::function<void()> OnRemove;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void SelectMatching(const QString& text);

    QLineEdit* edit_ = nullptr;
    QListWidget* list_ = nullptr;
    QAction* remove_ = nullptr;
};

}  // namespace tolvar
