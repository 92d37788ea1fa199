#pragma once
// The seam between the call monitor and the desktop: kept with the desktop, a
// layer below the calls, so the desktop integration fills it without
// including the monitor.

#include <cstdint>
#include <string>

namespace tolvar {

// The desktop's part in incoming calls: the contact lookup, the announcement
// and the call's notification.
class CallDesktop {
  public:
    virtual ~CallDesktop() = default;
    virtual void LookUpContact(const std::string& callingNumber) = 0;
    virtual void AnnounceCaller(const std::string& name) = 0;
    // The call's event-log line as it arrived, and as it ended; missed: nobody answered.
    virtual void CallArrived(std::uint32_t plci, const std::string& line) = 0;
    virtual void CallFinished(std::uint32_t plci, const std::string& ending, bool missed) = 0;
};

}  // namespace tolvar
