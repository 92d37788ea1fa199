#pragma once
// The main window: the desktop face of the engine. It holds no program state
// of its own; every control forwards to the engine, every effect comes back
// through FrontEnd.

#include <QIcon>
#include <QMainWindow>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "core/front_end.h"

class QListView;
class QListWidget;
class QMenu;
class QTabWidget;
class QSystemTrayIcon;

namespace tolvar {

class DesktopPage;
class Engine;
class IsdnPage;
class LogPage;
class RulesPage;

class TMainForm final : public QMainWindow, public FrontEnd {
  public:
    // tray: whether the desktop has a notification area; by default the
    // system is asked. Without one the close box minimises instead of hiding.
    explicit TMainForm(std::optional<bool> tray = std::nullopt);
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
    void AppendIsdnTrace(const LineStore& trace) override;
    void AppendStatusLine(StatusList list, const std::string& text, bool marked) override;
    void ClearStatusList(StatusList list) override;
    void SetControlEnabled(Control control, bool enabled) override;
    void FocusControl(Control control, bool selectAll) override;
    std::string ControlText(Control control) const override;
    void SetControlText(Control control, const std::string& text) override;
    void SetControlItems(Control control, const std::vector<std::string>& items) override;
    bool ControlChecked(Control control) const override;
    void SetControlChecked(Control control, bool checked) override;
    void SetBusyCursor(bool busy) override;
    void ReportError(const std::string& text) override;
    void Quit() override;
    void PlaceAtBottomRight() override;
    void LogLoaded(const LineStore& lines) override;
    void LogLineSet(int index, const std::string& text, bool appended) override;
    void LogCleared() override;
    void SetClipboard(const std::string& text) override;
    void SetTrayIcon(int phase) override;
    void SetTrayTip(const std::string& tip) override;
    void AttentionChanged(bool) override {}
    void CapiLinkChanged(bool up, const std::string& text) override;
    void MqttLinkChanged(bool up, const std::string& text) override;
    void RulesChanged(const RuleStore& rules) override;

    QSystemTrayIcon* Tray() const { return tray_; }
    int TrayPhase() const { return trayPhase_; }
    // The icon is greyed while CAPI cannot be reached.
    bool TrayGreyed() const { return trayGreyed_; }
    const QString& TrayTip() const { return trayTip_; }
    QListView* EventLogList() const;

    QTabWidget* Pages() const { return pages_; }
    DesktopPage* DesktopOptions() const { return desktop_; }
    QWidget* PageWidget(Page page) const;

    // For the pages: the engine (none before it exists or after it is gone),
    // the window's dialogs, the main menus, and the controls they register.
    Engine* EngineOrNull() const { return engine_; }
    Dialogs* WindowDialogs() const { return dialogs_; }
    QMenu* FileMenu() const { return fileMenu_; }
    QMenu* EditMenu() const { return editMenu_; }
    QAction* CloseAction() const { return cmClose_; }
    void RegisterControl(Control control, QWidget* widget) { controls_[control] = widget; }
    void RegisterStatusList(StatusList list, QListWidget* box) { statusLists_[list] = box; }
    // A control whose list is not a combo box's: the page fills it itself.
    void RegisterItemList(Control control,
                          std::function<void(const std::vector<std::string>&)> fill) {
        itemLists_[control] = std::move(fill);
    }
    // "Ereignisprotokoll &löschen" (the main menu and the log's context menu).
    void ClearLog();

  protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void BuildPages();
    void BuildMenu();
    void BuildTray();
    void TabChanged(int index);
    void Place();

    Engine* engine_ = nullptr;
    Dialogs* dialogs_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QMenu* editMenu_ = nullptr;
    QAction* cmClose_ = nullptr;
    QTabWidget* pages_ = nullptr;
    QWidget* pageWidgets_[7] = {};
    LogPage* log_ = nullptr;
    RulesPage* rules_ = nullptr;
    DesktopPage* desktop_ = nullptr;
    IsdnPage* isdn_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QIcon trayIcons_[2];
    QIcon greyedTrayIcons_[2];
    int trayPhase_ = 0;
    bool trayGreyed_ = false;
    QString trayTip_ = "Tolvar";
    // The widgets behind the controls the engine names; pages register theirs.
    QWidget* ControlWidget(Control control) const;
    std::map<Control, QWidget*> controls_;
    std::map<StatusList, QListWidget*> statusLists_;
    std::map<Control, std::function<void(const std::vector<std::string>&)>> itemLists_;
    bool busy_ = false;
    bool quitting_ = false;
    bool hasTray_ = false;
    // Placed at start before the window manager told its frame: placed again
    // once it has.
    bool frameUnknownAtPlacing_ = false;
};

}  // namespace tolvar
