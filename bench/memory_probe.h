#pragma once
// The memory benchmarks' common parts: the heap in use, received messages for
// the ISDN trace, and the report of a front end's figures, each measured in a
// child process of its own.

#include <cstddef>
#include <string>

namespace tolvar::test {
class FakeCapi;
class FakeIo;
}  // namespace tolvar::test

namespace tolvar::bench {

// Bytes malloc has handed out and not got back: every arena, and the blocks
// it mapped for large requests.
std::size_t HeapInUse();

// count received messages of the kinds that are traced and nothing else
// (confirmations, facility and B3 indications), of realistic lengths, each
// fetched through the engine; every so often after (a window's events).
void FeedTraceMessages(test::FakeCapi& capi, test::FakeIo& io, std::size_t count,
                       void (*every)() = nullptr);

// Runs "PROGRAM log|trace N" for 0 and 100,000 log lines and for 1,000,000
// trace lines, and reports heap per text byte with the goal of 1.5.
bool ReportLines(const std::string& frontEnd, const std::string& program);

}  // namespace tolvar::bench
