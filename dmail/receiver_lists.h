#pragma once
// The receivers the SMS and D-Mail pages remember, and the own D-Mail MSN:
// stored together under "Subscriber" keys (one value per entry, named by the
// entry, with empty data) and rewritten together by SaveReceiverLists.

#include <string>
#include <vector>

#include "core/front_end.h"

namespace tolvar {

class Registry;

inline constexpr const char* kSmsSubscriberKey = "\\Software\\Brenwick\\Tolvar\\SMS\\Subscriber";
inline constexpr const char* kDMailSubscriberKey =
    "\\Software\\Brenwick\\Tolvar\\DMail\\Subscriber";

class ReceiverLists {
  public:
    enum class Which { Sms, DMail };

    explicit ReceiverLists(FrontEnd& ui);

    // Start-up: both lists from the value names of their keys, into their boxes.
    void Load(Registry& registry);
    const std::vector<std::string>& Entries(Which which) const;

    // An entry the user sent to: added unless the list holds it already
    // (compared without regard to letter case), then both lists saved.
    void Remember(Registry& registry, Which which, const std::string& entry);
    // "Eintrag entfernen": the entry, if it is in the list, removed and both
    // lists saved; nothing otherwise.
    void Remove(Registry& registry, Which which, const std::string& entry);
    // Both Subscriber keys rewritten from the lists, and the DMail "MSN" from
    // the own-MSN field, as one replacement of the settings file.
    void SaveReceiverLists(Registry& registry);

  private:
    std::vector<std::string>& List(Which which);
    void Show(Which which);

    FrontEnd& ui_;
    std::vector<std::string> sms_;
    std::vector<std::string> dmail_;
};

// The characters a receiver box swallows ("/", "." and ",").
bool IsDiscardedReceiverChar(char c);

}  // namespace tolvar
