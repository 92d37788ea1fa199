// How the vCard reader's time grows with a folded value: linear in the text,
// whatever the number of folds. (The address book's lookup and memory are
// measured by address_book_bench.)

#include <benchmark/benchmark.h>

#include <string>

#include "desktop/vcard.h"

namespace tolvar {
namespace {

// One line of a 2.1 card folded N times, each part ending in "=" and its
// colon hidden behind an unclosed quote: every fold asks whether the line is
// QUOTED-PRINTABLE, and the answer must not cost a look at the whole line.
void BM_ParseFoldedValue(benchmark::State& state) {
    std::string text = "BEGIN:VCARD\r\nVERSION:2.1\r\nNOTE;X=\"";
    for (std::int64_t i = 0; i < state.range(0); ++i) text += "ab=\r\n ";
    text += "c\r\nTEL:0301\r\nEND:VCARD\r\n";
    for (auto _ : state) {
        auto cards = ParseVCards(text);
        if (cards.size() != 1) state.SkipWithError("card lost");
        benchmark::DoNotOptimize(cards);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ParseFoldedValue)->Arg(3000)->Arg(30000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tolvar
