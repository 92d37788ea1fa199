#pragma once
// The progress of every call: the response each indication is owed, then the
// call's record found by PLCI or NCCI and its event handed to the owner of
// the record's kind (the incoming-call monitor, SMS, D-Mail). Where something
// happens at every call whatever its kind, an every-call hook does it.

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "capi/capi_codes.h"
#include "capi/capi_message.h"

namespace tolvar {

class CapiSession;
class Connections;
struct TConnection;

// What the owner of a kind of call does at each event of one of its calls.
// The record is found for it; the response the indication is owed is sent.
class CallOwner {
  public:
    virtual ~CallOwner() = default;
    // An outgoing call's confirmation. With info 0 the record is in the list;
    // otherwise it is discarded afterwards.
    virtual void ConnectConf(TConnection&, std::uint16_t /*info*/) {}
    virtual void AlertConf(TConnection&) {}
    virtual void InfoInd(TConnection&, std::uint16_t /*infoNumber*/) {}
    virtual void ConnectActive(TConnection&) {}
    // The B3 link is up. False: the owner has no use for it, and it is ended.
    virtual bool ConnectB3Active(TConnection&) { return false; }
    virtual void ConnectB3Conf(TConnection&) {}
    virtual void DataB3Ind(TConnection&, Bytes /*data*/) {}
    virtual void DataB3Conf(TConnection&) {}
    virtual void DisconnectB3Ind(TConnection&) {}
    // The call ended (DISCONNECT_IND, or the CAPI link was lost); its record
    // is removed afterwards.
    virtual void Disconnected(TConnection&, std::uint16_t /*reason*/) {}
};

// Moments of every call, whatever its kind, each before its record is looked
// up (CallEnded: after a record was removed).
enum class EveryCall { ConnectActive, ConnectB3Active, DisconnectB3, Disconnect, CallEnded };

class CallRouter {
  public:
    CallRouter(CapiSession& session, Connections& connections);
    CallRouter(const CallRouter&) = delete;
    CallRouter& operator=(const CallRouter&) = delete;

    // Installs the router's handlers in the session (all dispatched commands
    // but CONNECT_IND, which creates the records of incoming calls).
    void Install();

    void SetOwner(CallKind kind, CallOwner& owner);
    void OnEvery(EveryCall moment, std::function<void()> hook);

    // The CAPI link was lost: every call ends as if its DISCONNECT_IND had
    // come with this reason, newest first, with nothing sent.
    void EndAllCalls(std::uint16_t reason);

    // The handlers, one per command word.
    void AlertConf(const CapiMessageView& msg);
    void ConnectConf(const CapiMessageView& msg);
    void InfoInd(const CapiMessageView& msg);
    void ConnectActiveInd(const CapiMessageView& msg);
    void DisconnectInd(const CapiMessageView& msg);
    void ConnectB3Conf(const CapiMessageView& msg);
    void ConnectB3ActiveInd(const CapiMessageView& msg);
    void DataB3Ind(const CapiMessageView& msg);
    void DataB3Conf(const CapiMessageView& msg);
    void DisconnectB3Ind(const CapiMessageView& msg);

  private:
    CallOwner* OwnerOf(const TConnection& call) const;
    void Run(EveryCall moment) const;
    void End(TConnection& call, std::uint16_t reason);

    CapiSession& session_;
    Connections& connections_;
    std::array<CallOwner*, kCallKindCount> owners_{};
    std::array<std::vector<std::function<void()>>, 5> hooks_;
};

}  // namespace tolvar
