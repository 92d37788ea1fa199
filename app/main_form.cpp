#include "app/main_form.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/start_position.h"
#include "desktop/sound_player.h"
#include "desktop/tray_icons.h"
#include "engine/engine.h"
#include "rules/rule_store.h"

namespace tolvar {

namespace {
QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}
QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}
constexpr int kClientWidth = 520;
constexpr int kClientHeight = 296;
}  // namespace

TMainForm::TMainForm(std::optional<bool> tray)
    : sound_(std::make_unique<SoundPlayer>()),
      hasTray_(tray.value_or(QSystemTrayIcon::isSystemTrayAvailable())) {
    setObjectName("MainForm");
    // Single border, only the system-menu box: no minimise or maximise.
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    trayIcons_[0] = IcnTaskbar(0);
    trayIcons_[1] = IcnTaskbar(1);
    setWindowIcon(trayIcons_[0]);
    BuildMenu();
    BuildPages();
    BuildTray();
}

TMainForm::~TMainForm() = default;

void TMainForm::SetEngine(Engine* engine) {
    engine_ = engine;
}

void TMainForm::Post(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void TMainForm::BuildMenu() {
    QMenu* file = menuBar()->addMenu("&Datei");
    QAction* close = file->addAction("&Schließen");
    close->setObjectName("cmClose");
    connect(close, &QAction::triggered, this, [this] {
        if (engine_) engine_->Guard([this] { engine_->cmCloseClick(); });
    });
    QMenu* edit = menuBar()->addMenu("&Bearbeiten");
    QAction* clear = edit->addAction("Ereignisprotokoll &löschen");
    clear->setObjectName("cmClearProtokoll");
    connect(clear, &QAction::triggered, this, &TMainForm::ClearLog);
}

void TMainForm::BuildPages() {
    pages_ = new QTabWidget;
    pages_->setObjectName("PageControl");
    pages_->setFixedSize(kClientWidth, kClientHeight);
    // All seven captions must fit the fixed width without scroll arrows.
    pages_->tabBar()->setUsesScrollButtons(false);
    pages_->setStyleSheet("QTabBar::tab { padding: 3px 4px; }");
    const char* names[7] = {"tsProtokoll", "tsUeberwachung", "tsSMS", "tsDMail",
                            "tsOffice",    "tsInfo",         "tsISDN"};
    for (Page p : kAllPages) {
        auto* page = new QWidget;
        const auto i = static_cast<std::size_t>(p);
        page->setObjectName(names[i]);
        pageWidgets_[i] = page;
        pages_->addTab(page, Q(PageCaption(p)));
    }

    BuildLogPage();
    BuildRulesPage();

    auto* info = new QVBoxLayout(PageWidget(Page::Info));
    auto* product = new QLabel("Tolvar");
    QFont big = product->font();
    big.setPointSize(big.pointSize() * 2);
    big.setBold(true);
    product->setFont(big);
    info->addStretch();
    info->addWidget(product, 0, Qt::AlignHCenter);
    info->addWidget(new QLabel("Version 2.7"), 0, Qt::AlignHCenter);
    auto* license = new QLabel(
        "Freie Software unter der GNU General Public License,\nVersion 3 oder später "
        "(GPL-3.0-or-later), ohne jede Gewährleistung.");
    license->setObjectName("lbLicense");
    license->setAlignment(Qt::AlignHCenter);
    info->addSpacing(12);
    info->addWidget(license, 0, Qt::AlignHCenter);
    info->addStretch();

    auto* isdn = new QVBoxLayout(PageWidget(Page::ISDN));
    LBISDNTrace = new QListWidget;
    LBISDNTrace->setObjectName("LBISDNTrace");
    QFont mono("Monospace");
    mono.setStyleHint(QFont::TypeWriter);
    LBISDNTrace->setFont(mono);
    isdn->addWidget(LBISDNTrace);

    pages_->setCurrentIndex(static_cast<int>(Page::MSOffice));
    connect(pages_, &QTabWidget::currentChanged, this, &TMainForm::TabChanged);
    setCentralWidget(pages_);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void TMainForm::BuildLogPage() {
    auto* layout = new QVBoxLayout(PageWidget(Page::Protokoll));
    LBTraceBox = new QListWidget;
    LBTraceBox->setObjectName("LBTraceBox");
    layout->addWidget(LBTraceBox);

    auto* popup = new QMenu(this);
    popup->setObjectName("lbTracePopUpMenu");
    QAction* clear = popup->addAction("Ereignisprotokoll &löschen");
    connect(clear, &QAction::triggered, this, &TMainForm::ClearLog);
    popup->addSeparator();
    cmCopyNumbers = popup->addAction("Nummern &kopieren");
    cmCopyNumbers->setObjectName("cmCopyNumbers");
    connect(cmCopyNumbers, &QAction::triggered, this, &TMainForm::CopySelectedNumbers);
    // Enabled only while a line is selected, checked each time the menu opens.
    connect(popup, &QMenu::aboutToShow, this, [this] {
        cmCopyNumbers->setEnabled(engine_ && engine_->CanCopyNumbers(LBTraceBox->currentRow()));
    });
    LBTraceBox->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(LBTraceBox, &QWidget::customContextMenuRequested, this,
            [this, popup](const QPoint& pos) {
                popup->popup(LBTraceBox->viewport()->mapToGlobal(pos));
            });
    auto* copy =
        new QShortcut(QKeySequence::Copy, LBTraceBox, nullptr, nullptr, Qt::WidgetShortcut);
    connect(copy, &QShortcut::activated, this, &TMainForm::CopySelectedNumbers);
}

void TMainForm::BuildRulesPage() {
    auto* layout = new QHBoxLayout(PageWidget(Page::Ueberwachung));
    TreeView = new QTreeWidget;
    TreeView->setObjectName("TreeView");
    TreeView->setHeaderHidden(true);
    layout->addWidget(TreeView);
}

void TMainForm::RulesChanged(const RuleStore& rules) {
    TreeView->clear();
    for (const auto& msn : rules.MsnNodes()) {
        auto* top = new QTreeWidgetItem(TreeView, QStringList{Q(msn->Text())});
        for (const auto& caller : msn->Children())
            new QTreeWidgetItem(top, QStringList{Q(caller->Text())});
        top->setExpanded(msn->Expanded);
    }
}

void TMainForm::CopySelectedNumbers() {
    if (!engine_) return;
    const int row = LBTraceBox->currentRow();
    if (engine_->CanCopyNumbers(row)) engine_->Guard([this, row] { engine_->CopyNumbers(row); });
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

void TMainForm::AppendIsdnTrace(const std::string& line) {
    LBISDNTrace->addItem(Q(line));
}

void TMainForm::MessageBox(const std::string& text) {
    QMessageBox::information(this, windowTitle(), Q(text));
}

void TMainForm::ReportError(const std::string& text) {
    QMessageBox::critical(this, windowTitle(), Q(text));
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

void TMainForm::LogLoaded(const std::vector<std::string>& lines) {
    LBTraceBox->clear();
    for (const auto& l : lines) LBTraceBox->addItem(Q(l));
    if (LBTraceBox->count() > 0) LBTraceBox->setCurrentRow(LBTraceBox->count() - 1);
}

void TMainForm::LogLineSet(int index, const std::string& text, bool appended) {
    if (appended) {
        LBTraceBox->addItem(Q(text));
        LBTraceBox->setCurrentRow(LBTraceBox->count() - 1);
        LBTraceBox->scrollToBottom();
    } else if (QListWidgetItem* item = LBTraceBox->item(index)) {
        item->setText(Q(text));
    }
}

void TMainForm::LogCleared() {
    LBTraceBox->clear();
}

void TMainForm::SetClipboard(const std::string& text) {
    QGuiApplication::clipboard()->setText(Q(text));
}

void TMainForm::SetTrayIcon(int phase) {
    trayPhase_ = phase;
    if (tray_) tray_->setIcon(trayIcons_[phase & 1]);
}

void TMainForm::SetTrayTip(const std::string& tip) {
    trayTip_ = Q(tip);
    if (tray_) tray_->setToolTip(trayTip_);
}

void TMainForm::PlaySound(const std::string& path) {
    sound_->Play(path);
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
