#pragma once
// The contact found for a call, in a window of its own that nothing waits
// for: photo, name, organisation, every number with its type, the e-mail
// addresses. Each found contact opens its own window, which goes when closed.

#include <QPointer>
#include <QWidget>
#include <vector>

#include "core/devices.h"

namespace tolvar {

class ContactView final : public QWidget {
  public:
    ContactView(const ContactCard& card, const std::string& file);
};

class ContactWindows final : public ContactWindow {
  public:
    ~ContactWindows() override;
    void ShowContact(const ContactCard& card, const std::string& file) override;
    // The windows still open, oldest first.
    std::vector<QWidget*> Open() const;

  private:
    std::vector<QPointer<QWidget>> windows_;
};

}  // namespace tolvar
