// How much one received message costs on the main thread: fetch, trace line,
// dispatch, and the responses its handler sends.

#include <benchmark/benchmark.h>

#include "capi/capi_session.h"
#include "core/front_end.h"

namespace tolvar {
namespace {

class NullFrontEnd final : public FrontEnd {
  public:
    void SetCaption(const std::string&) override {}
    void ShowWindow() override {}
    void HideWindow() override {}
    void SetActivePage(Page) override {}
    void PlaceAtBottomRight() override {}
    void SetIsdnTabVisible(bool) override {}
    void AppendIsdnTrace(const std::string& line) override {
        benchmark::DoNotOptimize(line.data());
    }
    void AppendStatusLine(StatusList, const std::string&, bool) override {}
    void ClearStatusList(StatusList) override {}
    void SetControlEnabled(Control, bool) override {}
    void FocusControl(Control, bool) override {}
    std::string ControlText(Control) const override { return ""; }
    void SetControlText(Control, const std::string&) override {}
    void SetControlItems(Control, const std::vector<std::string>&) override {}
    bool ControlChecked(Control) const override { return false; }
    void SetControlChecked(Control, bool) override {}
    void SetBusyCursor(bool) override {}
    void ReportError(const std::string&) override {}
    void Quit() override {}
    void LogLoaded(const std::vector<std::string>&) override {}
    void LogLineSet(int, const std::string&, bool) override {}
    void LogCleared() override {}
    void SetClipboard(const std::string&) override {}
    void SetTrayIcon(int) override {}
    void SetTrayTip(const std::string&) override {}
    void AttentionChanged(bool) override {}
    void CapiLinkChanged(bool, const std::string&) override {}
    void RulesChanged(const RuleStore&) override {}
};

// Hands out the same DISCONNECT_IND for ever.
class LoopDriver final : public CapiDriver {
  public:
    std::uint32_t Register(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                           std::uint32_t& id) override {
        id = 1;
        return 0;
    }
    std::uint32_t Release(std::uint32_t) override { return 0; }
    std::uint32_t PutMessage(std::uint32_t, Bytes m, Bytes) override {
        benchmark::DoNotOptimize(m.data());
        return 0;
    }
    std::uint32_t GetMessage(std::uint32_t, CapiMessageView& m) override {
        m = CapiMessageView(msg_);
        return 0;
    }
    int Fileno(std::uint32_t) override { return -1; }
    std::string GetManufacturer() override { return ""; }

  private:
    std::uint8_t msg_[14] = {0x0E, 0, 1, 0, 0x04, 0x82, 5, 0, 1, 1, 0, 0, 0x04, 0x33};
};

void BM_ReceiveAndRespond(benchmark::State& state) {
    LoopDriver driver;
    NullFrontEnd ui;
    CapiSession session(driver, ui);
    session.Register();
    session.SetTraceEnabled(state.range(0) != 0);
    session.SetHandler(cmd::DISCONNECT_IND, [&](const CapiMessageView& m) {
        session.SendDisconnectResp(m.MessageNumber(), m.FirstParameter());
    });
    for (auto _ : state) session.WMCapiSignal();
}
BENCHMARK(BM_ReceiveAndRespond)->Arg(0)->Arg(1);

void BM_ConnectReqBuild(benchmark::State& state) {
    LoopDriver driver;
    NullFrontEnd ui;
    CapiSession session(driver, ui);
    session.Register();
    const ConnectReqParams p{
        kTagDMail, 24, "5551234", "5559876", std::string("Hallo Welt, wie geh"), std::string("")};
    for (auto _ : state) session.SendConnectReq(p);
}
BENCHMARK(BM_ConnectReqBuild);

}  // namespace
}  // namespace tolvar
