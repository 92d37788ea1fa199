#pragma once
// A front end that records every effect as "channel: text", the way the
// console prints it; its dialogs answer as a test scripts them, and its
// devices record what they were asked to do.

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "core/devices.h"
#include "core/front_end.h"
#include "core/line_store.h"

namespace tolvar::test {

class RecordingFrontEnd final : public FrontEnd,
                                public Dialogs,
                                public SoundDevice,
                                public ProgramStarter,
                                public Announcer,
                                public Notifier,
                                public ContactWindow {
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
    void AppendIsdnTrace(const LineStore& trace) override {
        const std::string line(trace.back());
        Add("isdn", line);
        isdn.push_back(line);
    }
    void AppendStatusLine(StatusList list, const std::string& text, bool marked) override {
        status[list].push_back(marked ? "> " + text : text);
        Add(StatusChannel(list), text);
    }
    void ClearStatusList(StatusList list) override {
        status[list].clear();
        Add(StatusChannel(list) + "-clear", "");
    }
    void SetControlEnabled(Control control, bool enabled) override {
        enabledState[control] = enabled;
    }
    void FocusControl(Control control, bool) override { focused = control; }
    std::string ControlText(Control control) const override {
        const auto it = texts.find(control);
        return it == texts.end() ? std::string() : it->second;
    }
    void SetControlText(Control control, const std::string& text) override {
        texts[control] = text;
    }
    void SetControlItems(Control control, const std::vector<std::string>& list) override {
        items[control] = list;
    }
    bool ControlChecked(Control control) const override {
        const auto it = checked.find(control);
        return it != checked.end() && it->second;
    }
    void SetControlChecked(Control control, bool on) override { checked[control] = on; }
    void SetBusyCursor(bool on) override { busy = on; }
    void ReportError(const std::string& text) override {
        Add("error", text);
        errors.push_back(text);
    }
    void Quit() override {
        ++quits;
        Add("quit", "");
    }

    void LogLoaded(const LineStore& lines) override {
        log = lines.ToVector();
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
    void CapiLinkChanged(bool up, const std::string& text) override {
        Add("capi", (up ? "up " : "down ") + text);
    }
    void RulesChanged(const RuleStore&) override { ++rulesChanged; }

    // Dialogs: boxes are recorded and take the scripted answers in order
    // (none left: OK); file choices take theirs (none left: cancelled).
    Answer MessageBox(Kind, const std::string& text) override {
        Add("box", text);
        if (boxAnswers.empty()) return Answer::Ok;
        const Answer answer = boxAnswers.front();
        boxAnswers.pop_front();
        return answer;
    }
    std::optional<std::string> ChooseFile(const FileChoice& choice) override {
        Add("choose", choice.title);
        chooserCalls.push_back(choice);
        if (chosenFiles.empty()) return std::nullopt;
        auto answer = chosenFiles.front();
        chosenFiles.pop_front();
        return answer;
    }

    // Devices.
    void Play(const std::string& path) override {
        sounds.push_back(path);
        Add("sound", path);
    }
    bool Start(const std::string& commandLine) override {
        Add("start", commandLine);
        started.push_back(commandLine);
        return startResult;
    }
    void Speak(const std::string& text, const Voice& voice) override {
        Add("announce", text);
        voices.push_back(voice);
    }
    void StopSpeaking() override { Add("speech-stop", ""); }
    void Notify(std::uint32_t id, const Notification& n) override {
        Add("notify", std::to_string(id) + " " + n.summary +
                          (n.body.empty() ? "" : " | " + n.body) +
                          (n.expireMs ? " (" + std::to_string(n.expireMs) + " ms)" : ""));
    }
    void Withdraw(std::uint32_t id) override { Add("notify-close", std::to_string(id)); }
    void ShowContact(const ContactCard& card, const std::string& file) override {
        Add("contact", card.formattedName + " <- " + file);
        contacts.push_back(card);
    }
    Devices AllDevices() { return {*this, *this, *this, *this, *this}; }

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
    std::vector<std::string> started;
    bool startResult = true;
    std::string clipboard;
    std::string trayTip = "Tolvar";
    int trayPhase = 0;
    int rulesChanged = 0;
    std::map<StatusList, std::vector<std::string>> status;
    std::map<Control, bool> enabledState;
    std::map<Control, std::string> texts;
    std::map<Control, bool> checked;
    std::vector<Voice> voices;
    std::vector<ContactCard> contacts;
    std::map<Control, std::vector<std::string>> items;
    std::optional<Control> focused;
    bool busy = false;
    std::deque<Answer> boxAnswers;
    std::deque<std::optional<std::string>> chosenFiles;
    std::vector<FileChoice> chooserCalls;
    // Every box text, in order.
    std::vector<std::string> Boxes() const {
        std::vector<std::string> b;
        for (const auto& e : events)
            if (e.rfind("box: ", 0) == 0) b.push_back(e.substr(5));
        return b;
    }

  private:
    static std::string StatusChannel(StatusList list) {
        switch (list) {
            case StatusList::SmsTrace:
                return "sms";
            case StatusList::DMailStatus:
                return "dmail";
            case StatusList::DMailLog:
                return "dmail-log";
        }
        return "";
    }
};

}  // namespace tolvar::test
