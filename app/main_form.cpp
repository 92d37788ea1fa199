#include "app/main_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/desktop_page.h"
#include "app/dmail_page.h"
#include "app/font_scale.h"
#include "app/log_page.h"
#include "app/mqtt_group.h"
#include "app/qt_text.h"
#include "app/rules_page.h"
#include "app/simple_pages.h"
#include "app/sms_page.h"
#include "app/start_position.h"
#include "app/tray_icons.h"
#include "engine/engine.h"
#include "rules/rule_store.h"

namespace tolvar {

namespace {
constexpr int kClientWidth = 520;
constexpr int kClientHeight = 296;
}  // namespace

TMainForm::TMainForm(std::optional<bool> tray)
    : hasTray_(tray.value_or(QSystemTrayIcon::isSystemTrayAvailable())) {
    setObjectName("MainForm");
    // Single border, only the system-menu box: no minimise or maximise.
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    trayIcons_[0] = IcnTaskbar(0);
    trayIcons_[1] = IcnTaskbar(1);
    greyedTrayIcons_[0] = IcnTaskbar(0, true);
    greyedTrayIcons_[1] = IcnTaskbar(1, true);
    setWindowIcon(trayIcons_[0]);
    BuildMenu();
    BuildPages();
    BuildTray();
}

TMainForm::~TMainForm() {
    // The pages ask the window for the engine while they go (a hidden grid
    // still asks its model): they must go while the window is one.
    SetEngine(nullptr);
    delete takeCentralWidget();
}

void TMainForm::SetEngine(Engine* engine) {
    engine_ = engine;
    // The lists show the engine's own stores: none may outlive it.
    if (engine == nullptr) {
        log_->Detach();
        isdn_->Detach();
    }
}

void TMainForm::SetDialogs(Dialogs* dialogs) {
    dialogs_ = dialogs;
}

void TMainForm::Post(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void TMainForm::BuildMenu() {
    fileMenu_ = menuBar()->addMenu("&Datei");
    fileMenu_->setObjectName("cmDatei");
    cmClose_ = fileMenu_->addAction("&Schließen");
    cmClose_->setObjectName("cmClose");
    connect(cmClose_, &QAction::triggered, this, [this] {
        if (engine_) engine_->Guard([this] { engine_->cmCloseClick(); });
    });
    editMenu_ = menuBar()->addMenu("&Bearbeiten");
    editMenu_->setObjectName("cmBearbeiten");
    QAction* clear = editMenu_->addAction("Ereignisprotokoll &löschen");
    clear->setObjectName("cmClearProtokoll");
    connect(clear, &QAction::triggered, this, &TMainForm::ClearLog);
}

void TMainForm::BuildPages() {
    pages_ = new QTabWidget;
    pages_->setObjectName("PageControl");
    // The described size, grown with the desktop's font so that nothing is cut.
    const FontScale scale = FontScale::Application();
    pages_->setFixedSize(scale.X(kClientWidth), scale.Y(kClientHeight));
    // All seven captions must fit the fixed width without scroll arrows.
    pages_->tabBar()->setUsesScrollButtons(false);
    pages_->setStyleSheet("QTabBar::tab { padding: 3px 4px; }");
    log_ = new LogPage(*this);
    rules_ = new RulesPage(*this);
    desktop_ = new DesktopPage(*this);
    isdn_ = new IsdnPage;
    QWidget* widgets[7] = {log_,         rules_, new SmsPage(*this), new DMailPage(*this), desktop_,
                           new InfoPage, isdn_};
    for (Page p : kAllPages) {
        const auto i = static_cast<std::size_t>(p);
        pageWidgets_[i] = widgets[i];
        pages_->addTab(widgets[i], Q(PageCaption(p)));
    }

    pages_->setCurrentIndex(static_cast<int>(Page::Desktop));
    connect(pages_, &QTabWidget::currentChanged, this, &TMainForm::TabChanged);
    setCentralWidget(pages_);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void TMainForm::MqttLinkChanged(bool up, const std::string& text) {
    desktop_->Mqtt()->LinkChanged(up, text);
}

void TMainForm::RulesChanged(const RuleStore& rules) {
    rules_->Show(rules);
}

QListView* TMainForm::EventLogList() const {
    return log_->List();
}

void TMainForm::ClearLog() {
    if (engine_) engine_->Guard([this] { engine_->cmClearProtokollClick(); });
}

void TMainForm::BuildTray() {
    if (!hasTray_) return;
    tray_ = new QSystemTrayIcon(trayIcons_[0], this);
    tray_->setObjectName("TrayIcon");
    tray_->setToolTip("Tolvar");
    auto* menu = new QMenu(this);
    menu->setObjectName("PopupMenu");
    QAction* show = menu->addAction("&Anzeigen");
    show->setObjectName("cmShowForm");
    connect(show, &QAction::triggered, this, [this] {
        if (engine_) engine_->Guard([this] { engine_->ShowWindow(); });
    });
    menu->addSeparator();
    QAction* quit = menu->addAction("B&eenden");
    quit->setObjectName("cmQuit");
    connect(quit, &QAction::triggered, this, [this] {
        if (engine_) engine_->Guard([this] { engine_->cmQuitClick(); });
    });
    tray_->setContextMenu(menu);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::DoubleClick && engine_)
            engine_->Guard([this] { engine_->TrayDoubleClick(); });
    });
    tray_->show();
}

QWidget* TMainForm::PageWidget(Page page) const {
    return pageWidgets_[static_cast<std::size_t>(page)];
}

void TMainForm::TabChanged(int index) {
    if (!engine_ || index < 0) return;
    QWidget* w = pages_->widget(index);
    for (Page p : kAllPages)
        if (PageWidget(p) == w) engine_->Guard([this, p] { engine_->SetActivePage(p); });
}

void TMainForm::SetCaption(const std::string& caption) {
    setWindowTitle(Q(caption));
}

void TMainForm::ShowWindow() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TMainForm::HideWindow() {
    // Without a tray a hidden window could never be reached again: it goes to
    // the task bar instead.
    if (!hasTray_) {
        showMinimized();
        return;
    }
    hide();
}

void TMainForm::SetActivePage(Page page) {
    const int index = pages_->indexOf(PageWidget(page));
    if (index >= 0) pages_->setCurrentIndex(index);
}

void TMainForm::SetIsdnTabVisible(bool visible) {
    const int index = pages_->indexOf(PageWidget(Page::ISDN));
    if (visible && index < 0) pages_->addTab(PageWidget(Page::ISDN), Q(PageCaption(Page::ISDN)));
    if (!visible && index >= 0) pages_->removeTab(index);
}

void TMainForm::AppendIsdnTrace(const LineStore& trace) {
    isdn_->Appended(trace);
}

void TMainForm::AppendStatusLine(StatusList list, const std::string& text, bool marked) {
    QListWidget* box = statusLists_.count(list) ? statusLists_.at(list) : nullptr;
    if (box == nullptr) return;
    auto* item = new QListWidgetItem(Q(text), box);
    // Sent messages are drawn grey in the message log.
    if (marked) item->setForeground(QColor(0x80, 0x80, 0x80));
    box->setCurrentItem(item);
    box->scrollToItem(item);
}

void TMainForm::ClearStatusList(StatusList list) {
    if (statusLists_.count(list)) statusLists_.at(list)->clear();
}

QWidget* TMainForm::ControlWidget(Control control) const {
    if (control == Control::PageControl) return pages_;
    const auto it = controls_.find(control);
    return it == controls_.end() ? nullptr : it->second;
}

void TMainForm::SetControlEnabled(Control control, bool enabled) {
    if (QWidget* w = ControlWidget(control)) w->setEnabled(enabled);
}

void TMainForm::FocusControl(Control control, bool selectAll) {
    QWidget* w = ControlWidget(control);
    if (w == nullptr) return;
    w->setFocus();
    if (auto* edit = qobject_cast<QLineEdit*>(w); edit && selectAll) edit->selectAll();
}

std::string TMainForm::ControlText(Control control) const {
    QWidget* w = ControlWidget(control);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text().toStdString();
    if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->currentText().toStdString();
    if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) return memo->toPlainText().toStdString();
    return "";
}

void TMainForm::SetControlText(Control control, const std::string& text) {
    QWidget* w = ControlWidget(control);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->setText(Q(text));
    if (auto* combo = qobject_cast<QComboBox*>(w)) combo->setEditText(Q(text));
    if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) memo->setPlainText(Q(text));
}

void TMainForm::SetControlItems(Control control, const std::vector<std::string>& items) {
    if (const auto it = itemLists_.find(control); it != itemLists_.end()) return it->second(items);
    auto* combo = qobject_cast<QComboBox*>(ControlWidget(control));
    if (combo == nullptr) return;
    const QString text = combo->currentText();
    combo->clear();
    for (const auto& i : items) combo->addItem(Q(i));
    combo->setEditText(text);
}

bool TMainForm::ControlChecked(Control control) const {
    auto* box = qobject_cast<QCheckBox*>(ControlWidget(control));
    return box != nullptr && box->isChecked();
}

void TMainForm::SetControlChecked(Control control, bool checked) {
    if (auto* box = qobject_cast<QCheckBox*>(ControlWidget(control))) box->setChecked(checked);
}

void TMainForm::SetBusyCursor(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

void TMainForm::ReportError(const std::string& text) {
    // The framework's error dialog, behind the same seam as every box.
    if (dialogs_) dialogs_->MessageBox(Dialogs::Kind::Error, text);
}

void TMainForm::Quit() {
    quitting_ = true;
    if (tray_) tray_->hide();
    QApplication::quit();
}

void TMainForm::PlaceAtBottomRight() {
    adjustSize();
    Place();
    frameUnknownAtPlacing_ = frameGeometry().size() == size();
}

void TMainForm::Place() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    move(StartPosition(screen->geometry(), screen->availableGeometry(), frameGeometry().size()));
}

void TMainForm::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    if (frameUnknownAtPlacing_ && frameGeometry().size() != size()) {
        frameUnknownAtPlacing_ = false;
        Place();
    }
}

void TMainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // Restored from the task bar after the close box: the window is shown again.
    if (event->type() == QEvent::WindowStateChange && !isMinimized() && isVisible() && engine_ &&
        !engine_->WindowVisible())
        engine_->Guard([this] { engine_->ShowWindow(); });
}

void TMainForm::LogLoaded(const LineStore& lines) {
    log_->Loaded(lines);
}

void TMainForm::LogLineSet(int index, const std::string&, bool appended) {
    log_->LineSet(index, appended);
}

void TMainForm::LogCleared() {
    log_->Cleared();
}

void TMainForm::SetClipboard(const std::string& text) {
    QGuiApplication::clipboard()->setText(Q(text));
}

void TMainForm::SetTrayIcon(int phase) {
    trayPhase_ = phase;
    if (tray_) tray_->setIcon((trayGreyed_ ? greyedTrayIcons_ : trayIcons_)[phase & 1]);
}

void TMainForm::CapiLinkChanged(bool up, const std::string&) {
    // The tip says why; the icon shows it at a glance.
    trayGreyed_ = !up;
    SetTrayIcon(trayPhase_);
}

void TMainForm::SetTrayTip(const std::string& tip) {
    trayTip_ = Q(tip);
    if (tray_) tray_->setToolTip(trayTip_);
}

void TMainForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && engine_) {
        engine_->Guard([this] { engine_->FormKeyDownEscape(); });
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (quitting_ || !engine_) {
        event->accept();
        return;
    }
    // The close box only hides the window; the program stays in the tray.
    event->ignore();
    engine_->Guard([this] { engine_->cmCloseClick(); });
}

}  // namespace tolvar
