#pragma once
// One record per call the program is involved in, and the list of them.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capi/capi_codes.h"

namespace tolvar {

struct TConnection {
    std::uint32_t PLCI = 0;
    std::uint32_t NCCI = 0;  // 0: no B3 link; kNcciPending: requested, not confirmed
    std::int32_t CIPValue = 0;
    std::string CalledNumber;    // UTF-8, control characters replaced
    std::string CallingNumber;   // UTF-8, control characters replaced
    std::string SubaddressText;  // UTF-8, control characters but CR replaced
    CallKind Kind = CallKind::Aus;
    std::int32_t LogLine = -1;
    double ArrivalTime = 0.0;
};

class Connections {
  public:
    // A basic-rate line has two B channels and a handful of calls offered at
    // once; the list holds at least this many records, and more where the
    // listened controllers carry more calls. A full list holds records of
    // calls the network never ended (or invented), and the oldest of them goes.
    static constexpr std::size_t kMaxRecords = 64;

    void SetCapacity(std::size_t records) { capacity_ = std::max(records, kMaxRecords); }
    std::size_t Capacity() const { return capacity_; }
    // Told of a record that a full list drops, before it goes.
    std::function<void(const TConnection& dropped)> OnDropped;

    TConnection& Add(TConnection record);
    // Removes and frees the record; references to it become invalid.
    void Remove(const TConnection* record);
    void Clear() { records_.clear(); }
    std::size_t Count() const { return records_.size(); }
    TConnection& operator[](std::size_t i) { return *records_.at(i); }

    // Both scan from the newest record to the oldest, so a newer record hides
    // an older one with the same value.
    TConnection* FindConnectionByPLCI(std::uint32_t plci);
    TConnection* FindConnectionByNCCI(std::uint32_t ncci);
    // The newest record of a kind.
    TConnection* FindNewestOfKind(CallKind kind);

  private:
    std::vector<std::unique_ptr<TConnection>> records_;
    std::size_t capacity_ = kMaxRecords;
};

}  // namespace tolvar
