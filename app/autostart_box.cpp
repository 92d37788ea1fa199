#include "app/autostart_box.h"

#include <QSignalBlocker>

namespace tolvar {

AutostartCheckBox::AutostartCheckBox(Autostart autostart,
                                     std::function<void(const std::string&)> reportError,
                                     QWidget* parent)
    : QCheckBox("Beim &Anmelden starten", parent),
      autostart_(std::move(autostart)),
      reportError_(std::move(reportError)) {
    setObjectName("cbAutostart");
    Refresh();
    connect(this, &QCheckBox::toggled, this, &AutostartCheckBox::Toggled);
}

void AutostartCheckBox::Refresh() {
    const QSignalBlocker quiet(this);
    setChecked(autostart_.Enabled());
}

void AutostartCheckBox::Toggled(bool on) {
    if (const auto error = autostart_.SetEnabled(on)) {
        if (reportError_) reportError_(*error);
        Refresh();
    }
}

}  // namespace tolvar
