#pragma once
// The check box "Beim &Anmelden starten" for the page that holds the desktop
// options: it shows whether the autostart entry is on and writes or removes it.

#include <QCheckBox>
#include <functional>
#include <string>

#include "desktop/autostart.h"

namespace tolvar {

class AutostartCheckBox final : public QCheckBox {
  public:
    // reportError shows a failed write; the box then goes back to what is on disk.
    AutostartCheckBox(Autostart autostart, std::function<void(const std::string&)> reportError,
                      QWidget* parent = nullptr);

    // Reads the entry's state again (the user may have removed the file).
    void Refresh();

  private:
    void Toggled(bool on);

    Autostart autostart_;
    std::function<void(const std::string&)> reportError_;
};

}  // namespace tolvar
