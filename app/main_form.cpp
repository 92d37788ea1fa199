#include "app/main_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QVBoxLayout>

#include "engine/engine.h"

namespace tolvar {

namespace {
QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }
QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }
constexpr int kClientWidth = 520;
constexpr int kClientHeight = 296;
}  // namespace

TMainForm::TMainForm() {
    setObjectName("MainForm");
    BuildMenu();
    BuildPages();
    BuildTray();
}

TMainForm::~TMainForm() = default;

void TMainForm::SetEngine(Engine* engine) { engine_ = engine; }

void TMainForm::Post(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void TMainForm::BuildMenu() {
    QMenu* file = menuBar()->addMenu("Datei");
    QAction* close = file->addAction("&Schließen");
    close->setObjectName("cmClose");
    connect(close, &QAction::triggered, this, [this] {
        if (engine_) engine_->Guard([this] { engine_->cmCloseClick(); });
    });
}

void TMainForm::BuildPages() {
    pages_ = new QTabWidget;
    pages_->setObjectName("PageControl");
    pages_->setFixedSize(kClientWidth, kClientHeight);
    const char* names[7] = {"tsProtokoll", "tsUeberwachung", "tsSMS", "tsDMail", "tsOffice", "tsInfo", "tsISDN"};
    for (Page p : kAllPages) {
        auto* page = new QWidget;
        const auto i = static_cast<std::size_t>(p);
        page->setObjectName(names[i]);
        pageWidgets_[i] = page;
        pages_->addTab(page, Q(PageCaption(p)));
    }

    auto* info = new QVBoxLayout(PageWidget(Page::Info));
    auto* product = new QLabel("Tolvar");
    QFont big = product->font();
    big.setPointSize(big.pointSize() * 2);
    big.setBold(true);
    product->setFont(big);
    info->addStretch();
    info->addWidget(product, 0, Qt::AlignHCenter);
    info->addWidget(new QLabel("Version 2.7"), 0, Qt::AlignHCenter);
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

void TMainForm::BuildTray() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    tray_ = new QSystemTrayIcon(style()->standardIcon(QStyle::SP_ComputerIcon), this);
    tray_->setToolTip("Tolvar");
    auto* menu = new QMenu(this);
    connect(menu->addAction("&Anzeigen"), &QAction::triggered, this, [this] {
        if (engine_) engine_->Guard([this] { engine_->ShowWindow(); });
    });
    connect(menu->addAction("B&eenden"), &QAction::triggered, this, [this] {
        if (engine_) engine_->Guard([this] { engine_->cmQuitClick(); });
    });
    tray_->setContextMenu(menu);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::DoubleClick && engine_) engine_->Guard([this] { engine_->ShowWindow(); });
    });
    tray_->show();
}

QWidget* TMainForm::PageWidget(Page page) const { return pageWidgets_[static_cast<std::size_t>(page)]; }

void TMainForm::TabChanged(int index) {
    if (!engine_ || index < 0) return;
    QWidget* w = pages_->widget(index);
    for (Page p : kAllPages)
        if (PageWidget(p) == w) engine_->Guard([this, p] { engine_->SetActivePage(p); });
}

void TMainForm::SetCaption(const std::string& caption) { setWindowTitle(Q(caption)); }

void TMainForm::ShowWindow() {
    show();
    raise();
    activateWindow();
}

void TMainForm::HideWindow() { hide(); }

void TMainForm::SetActivePage(Page page) {
    const int index = pages_->indexOf(PageWidget(page));
    if (index >= 0) pages_->setCurrentIndex(index);
}

void TMainForm::SetIsdnTabVisible(bool visible) {
    const int index = pages_->indexOf(PageWidget(Page::ISDN));
    if (visible && index < 0) pages_->addTab(PageWidget(Page::ISDN), Q(PageCaption(Page::ISDN)));
    if (!visible && index >= 0) pages_->removeTab(index);
}

void TMainForm::AppendIsdnTrace(const std::string& line) { LBISDNTrace->addItem(Q(line)); }

void TMainForm::MessageBox(const std::string& text) {
    QMessageBox::information(this, windowTitle(), Q(text));
}

void TMainForm::ReportError(const std::string& text) { QMessageBox::critical(this, windowTitle(), Q(text)); }

void TMainForm::Quit() {
    quitting_ = true;
    if (tray_) tray_->hide();
    QApplication::quit();
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
