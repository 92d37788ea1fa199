#pragma once
// The main window: the desktop face of the engine. It holds no program state
// of its own; every control forwards to the engine, every effect comes back
// through FrontEnd.

#include <QIcon>
#include <QMainWindow>
#include <functional>
#include <map>
#include <memory>

#include "core/front_end.h"

class QListWidget;
class QTreeWidget;
class QTabWidget;
class QSystemTrayIcon;

namespace tolvar {

class Engine;

class TMainForm final : public QMainWindow, public FrontEnd {
  public:
    TMainForm();
    ~TMainForm() override;

    // The engine is created after the window, which it reports to.
    void SetEngine(Engine* engine);
    // The message boxes and file dialogs of the window (a test scripts them).
    void SetDialogs(Dialogs* dialogs);
    // Runs fn on the GUI thread soon; callable from any thread.
    void Post(std::function<void()> fn);

    // FrontEnd
    void SetCaption(const std::string& caption) override;
    void ShowWindow() override;
    void HideWindow() override;
    void SetActivePage(Page page) override;
    void SetIsdnTabVisible(bool visible) override;
    void AppendIsdnTrace(const std::string& line) override;
    void AppendStatusLine(StatusList list, const std::string& text, bool marked) override;
    void ClearStatusList(StatusList list) override;
    void SetControlEnabled(Control control, bool enabled) override;
    void FocusControl(Control control, bool selectAll) override;
    std::string ControlText(Control control) const override;
    void SetControlText(Control control, const std::string& text) override;
    void SetControlItems(Control control, const std::vector<std::string>& items) override;
    void SetBusyCursor(bool busy) override;
    void ReportError(const std::string& text) override;
    void Quit() override;
    void PlaceAtBottomRight() override;
    void LogLoaded(const std::vector<std::string>& lines) override;
    void LogLineSet(int index, const std::string& text, bool appended) override;
    void LogCleared() override;
    void SetClipboard(const std::string& text) override;
    void SetTrayIcon(int phase) override;
    void SetTrayTip(const std::string& tip) override;
    void AttentionChanged(bool) override {}
    void CapiLinkChanged(bool, const std::string&) override {}
    void RulesChanged(const RuleStore& rules) override;

    QSystemTrayIcon* Tray() const { return tray_; }
    int TrayPhase() const { return trayPhase_; }
    const QString& TrayTip() const { return trayTip_; }
    QListWidget* EventLogList() const { return LBTraceBox; }

    QTabWidget* Pages() const { return pages_; }
    QWidget* PageWidget(Page page) const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void BuildPages();
    void BuildMenu();
    void BuildTray();
    void TabChanged(int index);
    void BuildLogPage();
    void BuildRulesPage();
    void CopySelectedNumbers();
    void ClearLog();

    Engine* engine_ = nullptr;
    Dialogs* dialogs_ = nullptr;
    QTabWidget* pages_ = nullptr;
    QWidget* pageWidgets_[7] = {};
    QListWidget* LBISDNTrace = nullptr;
    QListWidget* LBTraceBox = nullptr;
    QTreeWidget* TreeView = nullptr;
    QAction* cmCopyNumbers = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QIcon trayIcons_[2];
    int trayPhase_ = 0;
    QString trayTip_ = "Tolvar";
    // The widgets behind the controls the engine names; pages register theirs.
    QWidget* ControlWidget(Control control) const;
    std::map<Control, QWidget*> controls_;
    std::map<StatusList, QListWidget*> statusLists_;
    bool busy_ = false;
    bool quitting_ = false;
};

}  // namespace tolvar
