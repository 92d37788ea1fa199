// A hostile remote-CAPI client: any byte stream on a line's connection must be
// taken frame by frame, logged when bad, and never crash the exchange.

#include <cstddef>
#include <cstdint>

#include "line/exchange.h"
#include "line/scheduler.h"
#include "line/wire.h"

using namespace tolvar::line;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Scheduler scheduler;
    Exchange exchange(scheduler, FastDelays());
    LineConfig line;
    line.name = "line1";
    line.msns = {"5551234"};
    const int index = exchange.AddLine(line);
    bool closed = false;
    const int session = exchange.OpenSession(
        index, [](const Bytes&) {}, [&closed] { closed = true; });
    FrameReader reader(4096);
    reader.Feed(data, size);
    Bytes payload;
    while (!closed && reader.Next(payload) == FrameReader::Status::Frame) {
        exchange.OnPayload(session, payload);
        scheduler.Advance(50);
    }
    // Let every timer of whatever the client started run out.
    scheduler.Advance(120000);
    if (!closed) exchange.CloseSession(session);
    scheduler.Advance(120000);
    return 0;
}
