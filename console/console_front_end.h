#pragma once
// The console front end: every visible effect becomes a line "CHANNEL: TEXT"
// on the output, and the window's controls become commands read line by line.

#include <functional>
#include <map>
#include <ostream>
#include <string>

#include "core/devices.h"
#include "core/front_end.h"

namespace tolvar {

class Engine;

class ConsoleFrontEnd final : public FrontEnd, public Dialogs {
  public:
    ConsoleFrontEnd(std::ostream& out, std::function<void()> quit);

    void SetCaption(const std::string& caption) override { Emit("caption", caption); }
    void ShowWindow() override {}
    void HideWindow() override {}
    void SetActivePage(Page) override {}
    void PlaceAtBottomRight() override {}
    void SetIsdnTabVisible(bool) override {}
    void AppendIsdnTrace(const LineStore& trace) override;
    void AppendStatusLine(StatusList list, const std::string& text, bool marked) override;
    void ClearStatusList(StatusList list) override;
    void SetControlEnabled(Control, bool) override {}
    void FocusControl(Control, bool) override {}
    std::string ControlText(Control control) const override;
    void SetControlText(Control control, const std::string& text) override;
    void SetControlItems(Control, const std::vector<std::string>&) override {}
    bool ControlChecked(Control control) const override;
    void SetControlChecked(Control control, bool checked) override { checked_[control] = checked; }
    void SetBusyCursor(bool) override {}
    void ReportError(const std::string& text) override { Emit("box", text); }
    void Quit() override { quit_(); }
    // All lines in large blocks and one flush: a long log would otherwise cost
    // one write each.
    void LogLoaded(const LineStore& lines) override;
    void LogLineSet(int index, const std::string& text, bool) override {
        Emit("protokoll " + std::to_string(index), text);
    }
    void LogCleared() override { Emit("protokoll-clear", ""); }
    void SetClipboard(const std::string& text) override { Emit("clipboard", text); }
    void SetTrayIcon(int) override {}
    void SetTrayTip(const std::string& tip) override;
    void AttentionChanged(bool on) override { Emit("attention", on ? "on" : "off"); }
    void CapiLinkChanged(bool up, const std::string& text) override {
        Emit("capi", (up ? "up " : "down ") + text);
    }
    void MqttLinkChanged(bool up, const std::string& text) override {
        Emit("mqtt", (up ? "up " : "down ") + text);
    }
    void RulesChanged(const RuleStore&) override {}

    // Dialogs: a box is a line; there is nobody to choose a file.
    Answer MessageBox(Kind, const std::string& text) override {
        Emit("box", text);
        return Answer::Ok;
    }
    std::optional<std::string> ChooseFile(const FileChoice&) override { return std::nullopt; }

    // One output line; CR and LF inside text are written as \r and \n, any
    // other control character as "?".
    void Emit(const std::string& channel, const std::string& text);

  private:
    // channel + ": " + text as Emit writes it, without the line end.
    static void AppendLine(std::string& out, std::string_view channel, std::string_view text);
    // The same for "protokoll " + number.
    static void AppendLogLine(std::string& out, std::string_view number, std::string_view text);
    // text with CR and LF escaped and other control characters replaced.
    static void AppendText(std::string& out, std::string_view text);

    std::ostream& out_;
    std::function<void()> quit_;
    std::string tip_ = "Tolvar";
    std::map<Control, std::string> texts_;
    std::map<Control, bool> checked_;
};

// The devices as lines of text: what would be played, started, said, shown.
class ConsoleDevices final : public SoundDevice,
                             public ProgramStarter,
                             public Announcer,
                             public Notifier,
                             public ContactWindow {
  public:
    // start: how programs are really started (StartDetached).
    ConsoleDevices(ConsoleFrontEnd& out, std::function<bool(const std::string&)> start);

    void Play(const std::string& path) override { out_.Emit("sound", path); }
    bool Start(const std::string& commandLine) override;
    void Speak(const std::string& text, const Voice&) override { out_.Emit("announce", text); }
    void StopSpeaking() override {}
    // A notification is its summary, then its body on a line of its own; a
    // withdrawn one is printed once more on the channel notify-close.
    void Notify(std::uint32_t id, const Notification& notification) override;
    void Withdraw(std::uint32_t id) override;
    void ShowContact(const ContactCard& card, const std::string& file) override {
        out_.Emit("contact", card.formattedName + " <- " + file);
    }

    Devices All() { return {*this, *this, *this, *this, *this}; }

  private:
    ConsoleFrontEnd& out_;
    std::function<bool(const std::string&)> start_;
    std::map<std::uint32_t, std::string> shown_;
};

// Runs one command line against the engine. Returns false (after printing
// "error: ..." to out) when the command is unknown or malformed.
bool ExecuteConsoleCommand(Engine& engine, const std::string& line, std::ostream& out);

}  // namespace tolvar
