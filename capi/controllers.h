#pragma once
// The controllers the program listens on. The registry value "Controller"
// names them ("1", "1,3,5", or "*" for every controller CAPI reports);
// missing or empty means controller 1 alone, as the program always did. Each
// gets its LISTEN_REQ, again whenever the CAPI link comes back; one that CAPI
// does not know or that refuses is reported once. Their B channels size the
// call list, and the first of them carries the program's own calls.

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "capi/capi_message.h"

namespace tolvar {

class CapiDriver;
class CapiSession;
class Connections;
class FrontEnd;

inline constexpr const char* kControllerValue = "Controller";

struct ControllerChoice {
    bool all = false;                     // "*"
    std::vector<std::uint32_t> numbers;   // in the order given, without repeats
    std::vector<std::string> notNumbers;  // entries that are no controller number
};
ControllerChoice ParseControllerValue(std::string_view text);

class ControllerListener {
  public:
    // The program's own calls beside those the controllers carry: one SMS
    // data call and one D-Mail call at a time.
    static constexpr std::size_t kOwnCalls = 2;

    ControllerListener(CapiDriver& driver, CapiSession& capi, Connections& connections,
                       FrontEnd& ui);

    // The value as stored. A changed value is listened to at the next Listen().
    void SetValue(const std::string& value);
    const std::string& Value() const { return value_; }

    // One LISTEN_REQ per controller (start-up, and again once the CAPI link
    // is back); controllers dropped from the value since the last time stop
    // being listened to.
    void Listen();
    // The controllers the last Listen() sent LISTEN_REQ to.
    const std::vector<std::uint32_t>& Listened() const { return listened_; }

    // The handler of LISTEN_CONF.
    void ListenConf(const CapiMessageView& msg);

  private:
    void Report(const std::string& entry, const std::string& text);

    CapiDriver& driver_;
    CapiSession& capi_;
    Connections& connections_;
    FrontEnd& ui_;
    std::string value_;
    std::vector<std::uint32_t> listened_;
    std::set<std::uint32_t> stopping_;  // LISTEN_REQs with empty masks on their way
    std::set<std::string> reported_;    // each controller's trouble is told once
};

}  // namespace tolvar
