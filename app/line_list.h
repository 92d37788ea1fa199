#pragma once
// The event log and the ISDN trace in the window: a model over the engine's
// own line store and a list view that shows it. Nothing is copied per line;
// the view asks for the text of the rows it paints, and assistive technology
// reads each row's text through the same model.

#include <QAbstractListModel>
#include <QListView>

namespace tolvar {

class LineStore;

class LineListModel final : public QAbstractListModel {
  public:
    explicit LineListModel(QObject* parent = nullptr);

    // Shows lines (the engine's, alive as long as the engine) from now on.
    void Show(const LineStore* lines);
    // Lines were appended to the store, or it was emptied.
    void Appended();
    void LineChanged(int row);
    void Cleared();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  private:
    const LineStore* lines_ = nullptr;
    int rows_ = 0;  // what the views have been told of
};

class LineListView final : public QListView {
  public:
    explicit LineListView(QWidget* parent = nullptr);
    LineListModel* Lines() const { return model_; }

    // Brings the last line into view once the event loop has finished what it
    // is doing, and only while the list is shown: laying out a long list for
    // every appended line, or for a hidden one, would cost the main thread.
    // Skipped while the user has scrolled away from the end.
    void FollowEnd();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void ScrollToEndIfFollowing();

    LineListModel* model_;
    bool following_ = true;  // the view shows the end, or did before the last lines came
    bool pending_ = false;
    bool scheduled_ = false;
};

}  // namespace tolvar
