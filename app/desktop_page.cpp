#include "app/desktop_page.h"

#include "app/autostart_box.h"
#include "app/controller_field.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "app/main_form.h"
#include "app/mqtt_group.h"
#include "app/page_widgets.h"
#include "engine/engine.h"

namespace tolvar {

namespace {

using page::Field;
using page::Group;
using page::Tight;

QPushButton* DotsButton(const char* name, const char* accessible) {
    auto* button = new QPushButton("...");
    button->setObjectName(name);
    button->setAccessibleName(accessible);
    button->setFixedWidth(button->fontMetrics().horizontalAdvance("...") + 16);
    return button;
}

}  // namespace

DesktopPage::DesktopPage(TMainForm& form) : form_(form) {
    setObjectName("tsDesktop");
    // The groups are taller than the window's fixed page: they scroll.
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea;
    scroll->setObjectName("sbDesktop");
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);
    auto* content = new QWidget;
    scroll->setWidget(content);
    auto* page = new QVBoxLayout(content);
    page->setContentsMargins(6, 4, 6, 4);
    page->setSpacing(2);

    // The address book of the contact lookup.
    QGroupBox* book = Group("Adressbuch", "gbAddressBook");
    auto* bookGrid = Tight(new QGridLayout(book));
    CBUseOutlook = new QCheckBox("Kontakt des Anrufers anzeigen. ");
    CBUseOutlook->setObjectName("CBUseOutlook");
    auto* note = new QLabel(
        "Die Kontakte liegen als vCard-Dateien im Adressbuch-Ordner. Der Anrufer muss mit "
        "Rufnummer als Kontakt gespeichert sein.");
    note->setObjectName("lbAddressBookNote");
    note->setWordWrap(true);
    auto* folderLabel = new QLabel("Adressbuch-&Ordner:");
    edContactsPath = Field("edContactsPath", folderLabel);
    BtnSelectContacts = DotsButton("BtnSelectContacts", "Adressbuch-Ordner auswählen");
    bookGrid->addWidget(CBUseOutlook, 0, 0, 1, 3);
    bookGrid->addWidget(note, 1, 0, 1, 3);
    bookGrid->addWidget(folderLabel, 2, 0);
    bookGrid->addWidget(edContactsPath, 2, 1);
    bookGrid->addWidget(BtnSelectContacts, 2, 2);
    page->addWidget(book);

    // The spoken announcement.
    QGroupBox* speech = Group("Ansage", "gbAnnouncement");
    auto* speechGrid = Tight(new QGridLayout(speech));
    CBUseAgent = new QCheckBox("&Anrufer ansagen lassen");
    CBUseAgent->setObjectName("CBUseAgent");
    auto* pathLabel = new QLabel("Stimme &Datei:");
    edAgentPath = Field("edAgentPath", pathLabel);
    edAgentPath->setReadOnly(true);
    BtnSelectPath = DotsButton("BtnSelectPath", "Stimme auswählen");
    auto* nameLabel = new QLabel("Stimme &Name:");
    edAgentName = Field("edAgentName", nameLabel);
    speechGrid->addWidget(CBUseAgent, 0, 0, 1, 3);
    speechGrid->addWidget(pathLabel, 1, 0);
    speechGrid->addWidget(edAgentPath, 1, 1);
    speechGrid->addWidget(BtnSelectPath, 1, 2);
    speechGrid->addWidget(nameLabel, 2, 0);
    speechGrid->addWidget(edAgentName, 2, 1);
    page->addWidget(speech);

    // Notifications; further options of the session go beside, before the stretch.
    gbNotify_ = Group("Benachrichtigung", "gbNotification");
    notifyLayout_ = Tight(new QHBoxLayout(gbNotify_));
    CBNotify = new QCheckBox("&Benachrichtigung bei jedem Anruf");
    CBNotify->setObjectName("CBNotify");
    notifyLayout_->addWidget(CBNotify);
    notifyLayout_->addStretch();
    page->addWidget(gbNotify_);
    page->addWidget(ControllerGroup(form_));
    mqtt_ = new MqttGroup(form_);
    page->addWidget(mqtt_);
    page->addStretch();

    form_.RegisterControl(Control::CBUseOutlook, CBUseOutlook);
    form_.RegisterControl(Control::edContactsPath, edContactsPath);
    form_.RegisterControl(Control::CBUseAgent, CBUseAgent);
    form_.RegisterControl(Control::edAgentPath, edAgentPath);
    form_.RegisterControl(Control::edAgentName, edAgentName);
    form_.RegisterControl(Control::CBNotify, CBNotify);

    // Clicks by the user only; the engine filling the page clicks nothing.
    connect(CBUseOutlook, &QCheckBox::clicked, this,
            [this] { Run(&DesktopIntegration::CBUseOutlookClick); });
    connect(CBUseAgent, &QCheckBox::clicked, this,
            [this] { Run(&DesktopIntegration::CBUseAgentClick); });
    connect(CBNotify, &QCheckBox::clicked, this,
            [this] { Run(&DesktopIntegration::CBNotifyClick); });
    connect(BtnSelectPath, &QPushButton::clicked, this,
            [this] { Run(&DesktopIntegration::BtnSelectPathClick); });
    connect(BtnSelectContacts, &QPushButton::clicked, this,
            [this] { Run(&DesktopIntegration::BtnSelectContactsClick); });
}

void DesktopPage::Run(void (DesktopIntegration::*handler)()) {
    Engine* engine = form_.EngineOrNull();
    if (engine) engine->Guard([engine, handler] { (engine->Desktop().*handler)(); });
}

void DesktopPage::AddAutostartOption(const Autostart& autostart) {
    cbAutostart_ = new AutostartCheckBox(autostart, [this](const std::string& error) {
        if (Dialogs* dialogs = form_.WindowDialogs())
            dialogs->MessageBox(Dialogs::Kind::Error, error);
    });
    notifyLayout_->insertWidget(1, cbAutostart_);
}

void DesktopPage::showEvent(QShowEvent* event) {
    // The user may have removed the entry by hand meanwhile.
    if (cbAutostart_) cbAutostart_->Refresh();
    QWidget::showEvent(event);
}

}  // namespace tolvar
