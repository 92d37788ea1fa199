#pragma once
// The pages "Info" and "ISDN".

#include <QWidget>
#include <string>

class QListWidget;

namespace tolvar {

class InfoPage final : public QWidget {
  public:
    InfoPage();
};

class IsdnPage final : public QWidget {
  public:
    IsdnPage();
    void Append(const std::string& line);
    QListWidget* List() const { return LBISDNTrace; }

  private:
    QListWidget* LBISDNTrace = nullptr;
};

}  // namespace tolvar
