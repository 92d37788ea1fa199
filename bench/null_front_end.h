#pragma once
// A front end that shows nothing, for benchmarks that time the engine alone.

#include "core/front_end.h"

namespace tolvar::bench {

class NullFrontEnd final : public FrontEnd, public Dialogs {
  public:
    void SetCaption(const std::string&) override {}
    void ShowWindow() override {}
    void HideWindow() override {}
    void SetActivePage(Page) override {}
    void SetIsdnTabVisible(bool) override {}
    void PlaceAtBottomRight() override {}
    void AppendIsdnTrace(const LineStore&) override {}
    void AppendStatusLine(StatusList, const std::string&, bool) override {}
    void ClearStatusList(StatusList) override {}
    void SetControlEnabled(Control, bool) override {}
    void FocusControl(Control, bool) override {}
    std::string ControlText(Control) const override { return {}; }
    void SetControlText(Control, const std::string&) override {}
    void SetControlItems(Control, const std::vector<std::string>&) override {}
    bool ControlChecked(Control) const override { return false; }
    void SetControlChecked(Control, bool) override {}
    void SetBusyCursor(bool) override {}
    void ReportError(const std::string&) override { ++errors; }
    void Quit() override {}
    void LogLoaded(const LineStore&) override {}
    void LogLineSet(int, const std::string&, bool) override {}
    void LogCleared() override {}
    void SetClipboard(const std::string&) override {}
    void SetTrayIcon(int) override {}
    void SetTrayTip(const std::string&) override {}
    void AttentionChanged(bool) override {}
    void CapiLinkChanged(bool, const std::string&) override {}
    void RulesChanged(const RuleStore&) override {}

    Answer MessageBox(Kind, const std::string&) override {
        ++errors;
        return Answer::Ok;
    }
    std::optional<std::string> ChooseFile(const FileChoice&) override { return std::nullopt; }

    int errors = 0;
};

}  // namespace tolvar::bench
