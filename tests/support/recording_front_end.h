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
    void PlaceAtBottomRight() override { Add("window", "placed"); }
    void SetIsdnTabVisible(bool v) override { isdnTab = v; }
    void AppendIsdnTrace(const std::string& line) override {
        Add("isdn", line);
        isdn.push_back(line);
    }
    void MessageBox(const std::string& text) override { Add("box", text); }
    void ReportError(const std::string& text) override {
        Add("error", text);
        errors.push_back(text);
    }
    void Quit() override {
        ++quits;
        Add("quit", "");
    }

    void LogLoaded(const std::vector<std::string>& lines) override {
        log = lines;
        Add("protokoll-load", std::to_string(lines.size()));
    }
    void LogLineSet(int index, const std::string& text, bool appended) override {
        if (appended)
            log.push_back(text);
        else if (index >= 0 && static_cast<std::size_t>(index) < log.size())
            log[static_cast<std::size_t>(index)] = text;
        Add("protokoll " + std::to_string(index), text);
    }
    void LogCleared() override {
        log.clear();
        Add("protokoll-clear", "");
    }
    void SetClipboard(const std::string& text) override {
        clipboard = text;
        Add("clipboard", text);
    }
    void SetTrayIcon(int phase) override { trayPhase = phase; }
    void SetTrayTip(const std::string& tip) override {
        trayTip = tip;
        Add("tray", tip);
    }
    void AttentionChanged(bool on) override { Add("attention", on ? "on" : "off"); }
    void ProgramStarted(const std::string& commandLine) override { Add("exec", commandLine); }
    void AnnounceCaller(const std::string& text) override { Add("announce", text); }
    void LookUpContact(const std::string& number) override { Add("contact", number); }
    void RulesChanged(const RuleStore&) override { ++rulesChanged; }
    void PlaySound(const std::string& path) override {
        sounds.push_back(path);
        Add("sound", path);
    }

    void Add(const std::string& channel, const std::string& text) {
        events.push_back(channel + ": " + text);
    }

    std::vector<std::string> events;
    std::vector<std::string> isdn;
    std::vector<std::string> errors;
    bool visible = false;
    bool isdnTab = false;
    int quits = 0;
    std::vector<std::string> log;
    std::vector<std::string> sounds;
    std::string clipboard;
    std::string trayTip = "Tolvar";
    int trayPhase = 0;
    int rulesChanged = 0;
    // Every box text, in order.
    std::vector<std::string> Boxes() const {
        std::vector<std::string> b;
        for (const auto& e : events)
            if (e.rfind("box: ", 0) == 0) b.push_back(e.substr(5));
        return b;
    }
};

}  // namespace tolvar::test
