#pragma once
// A CAPI that records what the program puts and feeds it messages by hand.

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "capi/capi_driver.h"

namespace tolvar::test {

struct PutRecord {
    std::vector<std::uint8_t> message;
    std::vector<std::uint8_t> data;
    std::uint16_t CommandWord() const {
        return static_cast<std::uint16_t>(message[4] | (message[5] << 8));
    }
};

class FakeCapi final : public CapiDriver {
  public:
    std::uint32_t Register(std::uint32_t messageBufferSize, std::uint32_t maxLogicalConnection,
                           std::uint32_t maxBDataBlocks, std::uint32_t maxBDataLen,
                           std::uint32_t& applId) override;
    std::uint32_t Release(std::uint32_t applId) override;
    std::uint32_t PutMessage(std::uint32_t applId, Bytes message, Bytes data) override;
    std::uint32_t GetMessage(std::uint32_t applId, CapiMessageView& message) override;
    // A made-up descriptor: the test host's IoService knows it.
    int Fileno(std::uint32_t applId) override { return applId != 0 ? kFd : -1; }
    std::string GetManufacturer() override { return manufacturer; }
    // Controller 0 gives the number of controllers in bChannels; a
    // controller missing here is unknown (0x2002).
    std::uint32_t GetProfile(std::uint32_t controller, Profile& profile) override;

    // Queues a received message: these bytes are what CAPI delivered (its
    // Length field is taken as given).
    void Feed(std::vector<std::uint8_t> message, std::vector<std::uint8_t> data = {});
    bool HasPending() const { return !queue_.empty(); }

    static constexpr int kFd = 1000;

    // Settings.
    std::uint32_t applIdToGive = 1;
    std::uint32_t registerResult = 0;
    std::uint32_t putResult = 0;
    // Set: the fetch fails with this (e.g. kCapiOSResourceError, a lost server).
    std::uint32_t getResult = 0;
    std::string manufacturer = "Fake CAPI";
    // B channels by controller; by default one basic-rate controller.
    std::map<std::uint32_t, std::uint16_t> bChannels{{1, 2}};

    // What happened.
    std::vector<std::uint32_t> registerArgs;  // the four numbers
    int registerCalls = 0;
    std::vector<PutRecord> puts;
    // Told of each put as it happens (benchmarks stamp them).
    std::function<void(const PutRecord&)> onPut;
    int getCalls = 0;
    int releaseCalls = 0;
    std::uint32_t releasedApplId = 0;

  private:
    struct Pending {
        std::vector<std::uint8_t> message, data;
    };
    std::deque<Pending> queue_;
    Pending current_;
};

// Builds a received message: header with Length = 8 + params.size().
std::vector<std::uint8_t> Message(std::uint16_t commandWord, std::uint16_t number,
                                  std::vector<std::uint8_t> params, std::uint16_t applId = 1);
// Little-endian bytes of a 32-bit value.
std::vector<std::uint8_t> U32(std::uint32_t v);
std::string HexBytes(const std::vector<std::uint8_t>& bytes);

}  // namespace tolvar::test
