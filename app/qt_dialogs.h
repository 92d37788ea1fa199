#pragma once
// The engine's message boxes and file dialog as Qt shows them.

#include "core/front_end.h"

class QWidget;

namespace tolvar {

class QtDialogs final : public Dialogs {
  public:
    explicit QtDialogs(QWidget* parent) : parent_(parent) {}
    Answer MessageBox(Kind kind, const std::string& text) override;
    std::optional<std::string> ChooseFile(const FileChoice& choice) override;

  private:
    QWidget* parent_;
};

}  // namespace tolvar
