#include "dmail/receiver_lists.h"

#include <algorithm>

#include "dmail/dmail_settings.h"
#include "registry/hive.h"
#include "registry/registry.h"

namespace tolvar {

namespace {

std::vector<std::string> ValueNames(Registry& registry, const char* keyPath) {
    auto key = registry.OpenKey(keyPath, true);
    auto names = key->GetValueNames();
    key->Close();
    return names;
}

void Rewrite(Registry& registry, const char* keyPath, const std::vector<std::string>& entries) {
    registry.DeleteKey(keyPath);
    auto key = registry.OpenKey(keyPath, true);
    for (const auto& e : entries) key->WriteString(e, "");
    key->Close();
}

}  // namespace

ReceiverLists::ReceiverLists(FrontEnd& ui) : ui_(ui) {}

std::vector<std::string>& ReceiverLists::List(Which which) {
    return which == Which::Sms ? sms_ : dmail_;
}

const std::vector<std::string>& ReceiverLists::Entries(Which which) const {
    return which == Which::Sms ? sms_ : dmail_;
}

void ReceiverLists::Show(Which which) {
    ui_.SetControlItems(which == Which::Sms ? Control::cbSMSReceiver : Control::cbDMailReceiver,
                        Entries(which));
}

void ReceiverLists::Load(Registry& registry) {
    sms_ = ValueNames(registry, kSmsSubscriberKey);
    Show(Which::Sms);
    dmail_ = ValueNames(registry, kDMailSubscriberKey);
    Show(Which::DMail);
}

void ReceiverLists::Remember(Registry& registry, Which which, const std::string& entry) {
    auto& list = List(which);
    const bool known = std::any_of(list.begin(), list.end(),
                                   [&](const std::string& e) { return NamesEqual(e, entry); });
    if (!known) {
        list.push_back(entry);
        Show(which);
    }
    SaveReceiverLists(registry);
}

void ReceiverLists::Remove(Registry& registry, Which which, const std::string& entry) {
    auto& list = List(which);
    const auto it = std::find(list.begin(), list.end(), entry);
    if (it == list.end()) return;
    list.erase(it);
    Show(which);
    SaveReceiverLists(registry);
}

void ReceiverLists::SaveReceiverLists(Registry& registry) {
    RegistryBatch batch(registry);
    Rewrite(registry, kSmsSubscriberKey, sms_);
    Rewrite(registry, kDMailSubscriberKey, dmail_);
    auto dmail = registry.OpenKey(kDMailKey, true);
    dmail->WriteString("MSN", ui_.ControlText(Control::edDMailOwnMSN));
    dmail->Close();
    batch.Commit();
}

bool IsDiscardedReceiverChar(char c) {
    return c == '/' || c == '.' || c == ',';
}

}  // namespace tolvar
