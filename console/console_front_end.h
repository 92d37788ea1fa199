#pragma once
// The console front end: every visible effect becomes a line "CHANNEL: TEXT"
// on the output, and the window's controls become commands read line by line.

#include <functional>
#include <ostream>
#include <string>

#include "core/front_end.h"

namespace tolvar {

class Engine;

class ConsoleFrontEnd final : public FrontEnd {
  public:
    ConsoleFrontEnd(std::ostream& out, std::function<void()> quit);

    void SetCaption(const std::string& caption) override { Emit("caption", caption); }
    void ShowWindow() override {}
    void HideWindow() override {}
    void SetActivePage(Page) override {}
    void PlaceAtBottomRight() override {}
    void SetIsdnTabVisible(bool) override {}
    void AppendIsdnTrace(const std::string& line) override { Emit("isdn", line); }
    void MessageBox(const std::string& text) override { Emit("box", text); }
    void ReportError(const std::string& text) override { Emit("box", text); }
    void Quit() override { quit_(); }
    void LogLoaded(const std::vector<std::string>& lines) override;
    void LogLineSet(int index, const std::string& text, bool) override {
        Emit("protokoll " + std::to_string(index), text);
    }
    void LogCleared() override { Emit("protokoll-clear", ""); }
    void SetClipboard(const std::string& text) override { Emit("clipboard", text); }
    void SetTrayIcon(int) override {}
    void SetTrayTip(const std::string& tip) override;
    void AttentionChanged(bool on) override { Emit("attention", on ? "on" : "off"); }
    void ProgramStarted(const std::string& commandLine) override { Emit("exec", commandLine); }
    void AnnounceCaller(const std::string& text) override { Emit("announce", text); }
    void LookUpContact(const std::string&) override {}
    void RulesChanged(const RuleStore&) override {}
    void PlaySound(const std::string& path) override { Emit("sound", path); }

    // One output line; CR and LF inside text are written as \r and \n.
    void Emit(const std::string& channel, const std::string& text);

  private:
    std::ostream& out_;
    std::function<void()> quit_;
    std::string tip_ = "Tolvar";
};

// Runs one command line against the engine. Returns false (after printing
// "error: ..." to out) when the command is unknown or malformed.
bool ExecuteConsoleCommand(Engine& engine, const std::string& line, std::ostream& out);

}  // namespace tolvar
