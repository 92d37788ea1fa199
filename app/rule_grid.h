#pragma once
// The grid panel of "Überwachung": the selected caller's entries, one row
// each under the header row, and the three controls laid over the selected
// cell (time picker, action list, "..." button).

#include <QPersistentModelIndex>
#include <QWidget>
#include <optional>

#include "app/font_scale.h"
#include "rules/rule_editor.h"

class QComboBox;
class QMenu;
class QTableView;
class QTimeEdit;
class QToolButton;

namespace tolvar {

class EntryModel;
class TMainForm;

class RuleGridPanel final : public QWidget {
  public:
    explicit RuleGridPanel(TMainForm& form);

    // The refresh: overlays hidden; the grid shown, with one row per entry,
    // only while a caller node is selected. The current cell stays where it
    // was, as far as the new list reaches.
    void Refresh();
    void HideOverlays();
    // The entry of the grid's current row; none while no row is current.
    std::optional<std::size_t> CurrentEntry() const;

    // "&Neuer Eintrag" and "Eintrag entfernen".
    void cmNewEntryClick();
    void cmDelEntryClick();

    QTableView* Grid() const { return PropGrid; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void PropGridSelectCell(const QModelIndex& index);
    void PlaceOverlays();
    void PropGripPopUpPopup(const QPoint& pos);
    // A right click on w (a control laid over a cell) opens the grid's menu.
    void UseGridMenu(QWidget* w);
    void TimePickerChange();
    void cbActionChange(int index);
    void BtnPropGridActionClick();
    void ParamEdited(const QModelIndex& index, const QString& text);
    // Runs fn on the entry under the overlays.
    void OnOverlaidEntry(const std::function<void(RuleEditor&, std::size_t)>& fn);

    TMainForm& form_;
    // The columns' widths and the rows' height grow with the desktop's font.
    const FontScale scale_ = FontScale::Application();
    QTableView* PropGrid = nullptr;
    EntryModel* model_ = nullptr;
    QTimeEdit* TimePicker = nullptr;
    QComboBox* cbAction = nullptr;
    QToolButton* BtnPropGridAction = nullptr;
    QMenu* PropGripPopUp = nullptr;
    QAction* pmNewEntry = nullptr;
    QAction* pmDelEntry = nullptr;
    // The cell the overlays lie over, and which of them it shows.
    QPersistentModelIndex overlaid_;
    CellOverlay overlay_;
    // The program moves the current cell: no overlays for that.
    bool quiet_ = false;
    int currentColumn_ = 0;
};

}  // namespace tolvar
