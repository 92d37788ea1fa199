#pragma once
// The main window: the desktop face of the engine. It holds no program state
// of its own; every control forwards to the engine, every effect comes back
// through FrontEnd.

#include <QMainWindow>
#include <functional>

#include "core/front_end.h"

class QListWidget;
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

    QTabWidget* Pages() const { return pages_; }
    QWidget* PageWidget(Page page) const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildPages();
    void BuildMenu();
    void BuildTray();
    void TabChanged(int index);

    Engine* engine_ = nullptr;
    QTabWidget* pages_ = nullptr;
    QWidget* pageWidgets_[7] = {};
    QListWidget* LBISDNTrace = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    bool quitting_ = false;
};

}  // namespace tolvar
