#include "support/fake_capi.h"

#include <algorithm>
#include <cstdio>

#include "core/bytes.h"

namespace tolvar::test {

std::uint32_t FakeCapi::Register(std::uint32_t messageBufferSize,
                                 std::uint32_t maxLogicalConnection, std::uint32_t maxBDataBlocks,
                                 std::uint32_t maxBDataLen, std::uint32_t& applId) {
    registerArgs = {messageBufferSize, maxLogicalConnection, maxBDataBlocks, maxBDataLen};
    ++registerCalls;
    applId = registerResult == 0 ? applIdToGive : 0;
    return registerResult;
}

std::uint32_t FakeCapi::Release(std::uint32_t applId) {
    ++releaseCalls;
    releasedApplId = applId;
    return 0;
}

std::uint32_t FakeCapi::PutMessage(std::uint32_t, Bytes message, Bytes data) {
    if (putResult != 0) return putResult;
    puts.push_back({{message.begin(), message.end()}, {data.begin(), data.end()}});
    if (onPut) onPut(puts.back());
    return 0;
}

std::uint32_t FakeCapi::GetMessage(std::uint32_t, CapiMessageView& message) {
    ++getCalls;
    if (getResult != 0) return getResult;
    if (queue_.empty()) return kCapiReceiveQueueEmpty;
    current_ = std::move(queue_.front());
    queue_.pop_front();
    message = CapiMessageView(current_.message, current_.data);
    return 0;
}

void FakeCapi::Feed(std::vector<std::uint8_t> message, std::vector<std::uint8_t> data) {
    queue_.push_back({std::move(message), std::move(data)});
}

std::vector<std::uint8_t> Message(std::uint16_t commandWord, std::uint16_t number,
                                  std::vector<std::uint8_t> params, std::uint16_t applId) {
    const auto length = static_cast<std::uint16_t>(8 + params.size());
    std::vector<std::uint8_t> m = {
        static_cast<std::uint8_t>(length),      static_cast<std::uint8_t>(length >> 8),
        static_cast<std::uint8_t>(applId),      static_cast<std::uint8_t>(applId >> 8),
        static_cast<std::uint8_t>(commandWord), static_cast<std::uint8_t>(commandWord >> 8),
        static_cast<std::uint8_t>(number),      static_cast<std::uint8_t>(number >> 8)};
    m.insert(m.end(), params.begin(), params.end());
    return m;
}

std::vector<std::uint8_t> U32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
    std::string s;
    char buf[4];
    for (auto b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X ", b);
        s += buf;
    }
    if (!s.empty()) s.pop_back();
    return s;
}

std::uint32_t FakeCapi::GetProfile(std::uint32_t controller, Profile& profile) {
    profile.fill(0);
    std::uint16_t count = 0;
    for (const auto& [number, channels] : bChannels)
        count = std::max(count, static_cast<std::uint16_t>(number));
    if (controller == 0) {
        PutU16(profile.data(), count);
        return 0;
    }
    const auto it = bChannels.find(controller);
    if (it == bChannels.end()) return 0x2002;
    PutU16(profile.data(), count);
    PutU16(profile.data() + 2, it->second);
    return 0;
}

}  // namespace tolvar::test
