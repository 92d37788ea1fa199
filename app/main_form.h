#pragma once
// The main window: the desktop face of the engine. It holds no program state
// of its own; every control forwards to the engine, every effect comes back
// through FrontEnd.

#include <QIcon>
#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>

#include "core/front_end.h"

class QListWidget;
class QTreeWidget;
class QTabWidget;
class QSystemTrayIcon;

namespace tolvar {

class Engine;
class SoundPlayer;

class TMainForm final : public QMainWindow, public FrontEnd {
  public:
    // tray: whether the desktop has a notification area; by default the
    // system is asked. Without one the close box minimises instead of hiding.
    explicit TMainForm(std::optional<bool> tray = std::nullopt);
    ~TMainForm() override;

    // The engine is created after the window, which it reports to.
    void SetEngine(Engine* engine);
    // Runs fn on the GUI thread soon; callable from any thread.
    void Post(std::function<void()> fn);

    // FrontEnd
    void SetCaption(const std::string& caption) override;
    void ShowWindow() override;
    void HideWindow() override;
    void SetActivePage(Page page) override;
    void SetIsdnTabVisible(bool visible) override;
    void AppendIsdnTrace(const std::string& line) override;
    void MessageBox(const std::string& text) override;
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
    void PlaySound(const std::string& path) override;
    void ProgramStarted(const std::string&) override {}
    void AnnounceCaller(const std::string&) override {}
    void LookUpContact(const std::string&) override {}
    void RulesChanged(const RuleStore& rules) override;

    QSystemTrayIcon* Tray() const { return tray_; }
    int TrayPhase() const { return trayPhase_; }
    const QString& TrayTip() const { return trayTip_; }
    QListWidget* EventLogList() const { return LBTraceBox; }

    QTabWidget* Pages() const { return pages_; }
    QWidget* PageWidget(Page page) const;

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
    void BuildLogPage();
    void BuildRulesPage();
    void CopySelectedNumbers();
    void ClearLog();
    void Place();

    Engine* engine_ = nullptr;
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
    std::unique_ptr<SoundPlayer> sound_;
    bool quitting_ = false;
    bool hasTray_ = false;
    // Placed at start before the window manager told its frame: placed again
    // once it has.
    bool frameUnknownAtPlacing_ = false;
};

}  // namespace tolvar
