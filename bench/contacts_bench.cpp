// How long a contact lookup's thread searches an address book of N cards, one
// file each, for a number carried by the last card (the worst case: every
// file read and parsed). The main thread never waits for this; it bounds how
// late the contact window can appear.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "desktop/contact_search.h"

namespace tolvar {
namespace {

namespace fs = std::filesystem;

class Book {
  public:
    explicit Book(int cards) {
        std::string pattern = (fs::temp_directory_path() / "tolvar-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        for (int i = 0; i < cards; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "%05d.vcf", i);
            std::ofstream(dir_ / name)
                << "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Kontakt;" << i << ";;;\r\nFN:Kontakt " << i
                << "\r\nORG:Firma " << i << "\r\nTEL;TYPE=home,voice:(030) " << 100000 + i
                << "\r\nTEL;TYPE=cell:+49 171 " << 200000 + i << "\r\nEMAIL;TYPE=internet:k" << i
                << "@example.org\r\nEND:VCARD\r\n";
        }
    }
    ~Book() { fs::remove_all(dir_); }
    std::string Path() const { return dir_.string(); }

  private:
    fs::path dir_;
};

void BM_FindLastCard(benchmark::State& state) {
    const int cards = static_cast<int>(state.range(0));
    Book book(cards);
    const std::string number = "0171" + std::to_string(200000 + cards - 1);
    for (auto _ : state) {
        auto match = FindContact(book.Path(), number);
        if (!match) state.SkipWithError("no match");
        benchmark::DoNotOptimize(match);
    }
    state.SetItemsProcessed(state.iterations() * cards);
}
BENCHMARK(BM_FindLastCard)->Arg(500)->Arg(5000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tolvar
