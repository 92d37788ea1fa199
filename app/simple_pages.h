#pragma once
// The pages "Info" and "ISDN".

#include <QWidget>

class QListView;

namespace tolvar {

class LineListView;
class LineStore;

class InfoPage final : public QWidget {
  public:
    InfoPage();
};

class IsdnPage final : public QWidget {
  public:
    IsdnPage();
    // A line was appended to trace, the engine's own list, shown as it is.
    void Appended(const LineStore& trace);
    // The engine and its trace are gone.
    void Detach();
    QListView* List() const;

  private:
    LineListView* LBISDNTrace = nullptr;
};

}  // namespace tolvar
