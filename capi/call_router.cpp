#include "capi/call_router.h"

#include "capi/capi_session.h"
#include "capi/connection.h"

namespace tolvar {

namespace {

// A message too short to name its PLCI or NCCI concerns no call and has
// nothing a response could echo.
bool NamesItsCall(const CapiMessageView& msg) {
    return msg.bytes().size() >= 12;
}

std::uint16_t WordAt12(const CapiMessageView& msg) {
    return ReadU16(msg.bytes(), 12).value_or(0);
}

bool IsOutgoingTag(std::uint16_t number) {
    return number == PurposeTag(CallKind::AutomaticSms) ||
           number == PurposeTag(CallKind::UserSms) || number == PurposeTag(CallKind::DMailOut);
}

}  // namespace

CallRouter::CallRouter(CapiSession& session, Connections& connections)
    : session_(session), connections_(connections) {}

void CallRouter::Install() {
    const auto seat = [this](std::uint16_t word,
                             void (CallRouter::*handler)(const CapiMessageView&)) {
        session_.SetHandler(word,
                            [this, handler](const CapiMessageView& m) { (this->*handler)(m); });
    };
    seat(cmd::ALERT_CONF, &CallRouter::AlertConf);
    seat(cmd::CONNECT_CONF, &CallRouter::ConnectConf);
    seat(cmd::INFO_IND, &CallRouter::InfoInd);
    seat(cmd::CONNECT_ACTIVE_IND, &CallRouter::ConnectActiveInd);
    seat(cmd::DISCONNECT_IND, &CallRouter::DisconnectInd);
    seat(cmd::CONNECT_B3_CONF, &CallRouter::ConnectB3Conf);
    seat(cmd::CONNECT_B3_ACTIVE_IND, &CallRouter::ConnectB3ActiveInd);
    seat(cmd::DATA_B3_IND, &CallRouter::DataB3Ind);
    seat(cmd::DATA_B3_CONF, &CallRouter::DataB3Conf);
    seat(cmd::DISCONNECT_B3_IND, &CallRouter::DisconnectB3Ind);
}

void CallRouter::SetOwner(CallKind kind, CallOwner& owner) {
    owners_.at(static_cast<std::size_t>(kind)) = &owner;
}

void CallRouter::OnEvery(EveryCall moment, std::function<void()> hook) {
    hooks_.at(static_cast<std::size_t>(moment)).push_back(std::move(hook));
}

void CallRouter::Run(EveryCall moment) const {
    for (const auto& hook : hooks_[static_cast<std::size_t>(moment)]) hook();
}

CallOwner* CallRouter::OwnerOf(const TConnection& call) const {
    const auto k = static_cast<std::int32_t>(call.Kind);
    if (k < 0 || k >= kCallKindCount) return nullptr;
    return owners_[static_cast<std::size_t>(k)];
}

void CallRouter::AlertConf(const CapiMessageView& msg) {
    if (!NamesItsCall(msg)) return;
    if (TConnection* call = connections_.FindConnectionByPLCI(msg.FirstParameter()))
        if (CallOwner* owner = OwnerOf(*call)) owner->AlertConf(*call);
}

void CallRouter::ConnectConf(const CapiMessageView& msg) {
    // Only the program's own CONNECT_REQs are confirmed to it; their purpose
    // tag comes back as the message number and becomes the call's kind.
    if (!NamesItsCall(msg) || !IsOutgoingTag(msg.MessageNumber())) return;
    TConnection record;
    record.PLCI = msg.FirstParameter();
    record.Kind = static_cast<CallKind>(msg.MessageNumber());
    const std::uint16_t infoValue = WordAt12(msg);
    CallOwner* owner = OwnerOf(record);
    if (infoValue != 0) {
        if (owner) owner->ConnectConf(record, infoValue);
        return;
    }
    TConnection& call = connections_.Add(std::move(record));
    if (owner) owner->ConnectConf(call, 0);
}

void CallRouter::InfoInd(const CapiMessageView& msg) {
    if (!NamesItsCall(msg)) return;
    session_.SendInfoResp(msg.MessageNumber(), msg.FirstParameter());
    if (TConnection* call = connections_.FindConnectionByPLCI(msg.FirstParameter()))
        if (CallOwner* owner = OwnerOf(*call)) owner->InfoInd(*call, WordAt12(msg));
}

void CallRouter::ConnectActiveInd(const CapiMessageView& msg) {
    if (!NamesItsCall(msg)) return;
    session_.SendConnectActiveResp(msg.MessageNumber(), msg.FirstParameter());
    Run(EveryCall::ConnectActive);
    if (TConnection* call = connections_.FindConnectionByPLCI(msg.FirstParameter()))
        if (CallOwner* owner = OwnerOf(*call)) owner->ConnectActive(*call);
}

void CallRouter::DisconnectInd(const CapiMessageView& msg) {
    if (!NamesItsCall(msg)) return;
    session_.SendDisconnectResp(msg.MessageNumber(), msg.FirstParameter());
    Run(EveryCall::Disconnect);
    if (TConnection* call = connections_.FindConnectionByPLCI(msg.FirstParameter()))
        End(*call, WordAt12(msg));
}

void CallRouter::End(TConnection& call, std::uint16_t reason) {
    if (CallOwner* owner = OwnerOf(call)) owner->Disconnected(call, reason);
    connections_.Remove(&call);
    Run(EveryCall::CallEnded);
}

void CallRouter::EndAllCalls(std::uint16_t reason) {
    while (connections_.Count() > 0) {
        Run(EveryCall::Disconnect);
        End(connections_[connections_.Count() - 1], reason);
    }
}

void CallRouter::ConnectB3Conf(const CapiMessageView& msg) {
    if (!NamesItsCall(msg)) return;
    // The newest call whose B3 link is being set up gets its NCCI.
    TConnection* call = connections_.FindConnectionByNCCI(kNcciPending);
    if (call == nullptr) return;
    // A refused B3 link has no NCCI.
    call->NCCI = WordAt12(msg) == 0 ? msg.FirstParameter() : 0;
    if (CallOwner* owner = OwnerOf(*call)) owner->ConnectB3Conf(*call);
}

void CallRouter::ConnectB3ActiveInd(const CapiMessageView& msg) {
    if (!NamesItsCall(msg)) return;
    const std::uint32_t ncci = msg.FirstParameter();
    session_.SendConnectB3ActiveResp(msg.MessageNumber(), ncci);
    Run(EveryCall::ConnectB3Active);
    TConnection* call = connections_.FindConnectionByNCCI(ncci);
    if (call == nullptr) return;
    CallOwner* owner = OwnerOf(*call);
    if (owner == nullptr || !owner->ConnectB3Active(*call)) session_.SendDisconnectB3Req(ncci);
}

void CallRouter::DataB3Ind(const CapiMessageView& msg) {
    const auto handle = ReadU16(msg.bytes(), 18);
    if (!NamesItsCall(msg) || !handle) return;
    const std::uint32_t ncci = msg.FirstParameter();
    // Answered last and once, whatever the owner did: libcapi20 keeps the
    // indication's buffer until then.
    try {
        if (TConnection* call = connections_.FindConnectionByNCCI(ncci))
            if (CallOwner* owner = OwnerOf(*call)) owner->DataB3Ind(*call, msg.b3data());
    } catch (...) {
        session_.SendDataB3Resp(ncci, *handle);
        throw;
    }
    session_.SendDataB3Resp(ncci, *handle);
}

void CallRouter::DataB3Conf(const CapiMessageView& msg) {
    if (!NamesItsCall(msg)) return;
    if (TConnection* call = connections_.FindConnectionByNCCI(msg.FirstParameter()))
        if (CallOwner* owner = OwnerOf(*call)) owner->DataB3Conf(*call);
}

void CallRouter::DisconnectB3Ind(const CapiMessageView& msg) {
    if (!NamesItsCall(msg)) return;
    const std::uint32_t ncci = msg.FirstParameter();
    session_.SendDisconnectB3Resp(msg.MessageNumber(), ncci);
    Run(EveryCall::DisconnectB3);
    if (TConnection* call = connections_.FindConnectionByNCCI(ncci))
        if (CallOwner* owner = OwnerOf(*call)) owner->DisconnectB3Ind(*call);
}

}  // namespace tolvar
