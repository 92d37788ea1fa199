#pragma once
// A front end that records every effect as "channel: text", the way the
// console prints it.

#include <string>
#include <vector>

#include "core/front_end.h"

namespace tolvar::test {

class RecordingFrontEnd final : public FrontEnd {
public:
    void SetCaption(const std::string& caption) override { Add("caption", caption); }
    void ShowWindow() override {
        visible = true;
        Add("window", "show");
    }
    void HideWindow() override {
        visible = false;
        Add("window", "hide");
    }
    void SetActivePage(Page page) override { Add("page", std::string(PageCaption(page))); }
    void SetIsdnTabVisible(bool v) override { isdnTab = v; }
    void AppendIsdnTrace(const std::string& line) override {
        Add("isdn", line);
        isdn.push_back(line);
    }
    void MessageBox(const std::string& text) override { Add("box", text); }
    void ReportError(const std::string& text) override { Add("error", text); errors.push_back(text); }
    void Quit() override {
        ++quits;
        Add("quit", "");
    }

    void Add(const std::string& channel, const std::string& text) { events.push_back(channel + ": " + text); }

    std::vector<std::string> events;
    std::vector<std::string> isdn;
    std::vector<std::string> errors;
    bool visible = false;
    bool isdnTab = false;
    int quits = 0;
};

}  // namespace tolvar::test
