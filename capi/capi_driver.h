#pragma once
// The six CAPI 2.0 operations the program uses. Results are 32-bit, 0 meaning
// success. The real implementation sits on libcapi20; tests use a fake.

#include <cstdint>
#include <string>

#include "capi/capi_message.h"

namespace tolvar {

inline constexpr std::uint32_t kCapiReceiveQueueEmpty = 0x1104;

class CapiDriver {
  public:
    virtual ~CapiDriver() = default;

    virtual std::uint32_t Register(std::uint32_t messageBufferSize,
                                   std::uint32_t maxLogicalConnection, std::uint32_t maxBDataBlocks,
                                   std::uint32_t maxBDataLen, std::uint32_t& applId) = 0;
    virtual std::uint32_t Release(std::uint32_t applId) = 0;
    // message: exactly the message's Length bytes. data: the block a
    // DATA_B3_REQ carries, empty for every other message.
    virtual std::uint32_t PutMessage(std::uint32_t applId, Bytes message, Bytes data) = 0;
    // On success the view stays valid until the next GetMessage.
    virtual std::uint32_t GetMessage(std::uint32_t applId, CapiMessageView& message) = 0;
    // 0 when a message waits; anything else after timeoutMs or on an error.
    virtual std::uint32_t WaitForSignal(std::uint32_t applId, std::uint32_t timeoutMs) = 0;
    // The manufacturer text of controller 1 (at most 64 characters), raw bytes.
    virtual std::string GetManufacturer() = 0;
};

}  // namespace tolvar
