#include "app/contact_window.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QTextDocument>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/qt_text.h"

namespace tolvar {

namespace {
constexpr int kPhotoSize = 96;

// A card's text is shown as it stands: taken for markup, an <img> in it
// would load a local file.
QLabel* PlainLabel(const QString& text) {
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}
}  // namespace

ContactView::ContactView(const ContactCard& card, const std::string& file)
    : QWidget(nullptr, Qt::Window) {
    setObjectName("ContactWindow");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(Q(card.formattedName) + " - Kontakt");
    auto* layout = new QVBoxLayout(this);

    auto* head = new QHBoxLayout;
    QPixmap photo;
    if (!card.photo.empty() &&
        photo.loadFromData(card.photo.data(), static_cast<uint>(card.photo.size()))) {
        auto* picture = new QLabel;
        picture->setObjectName("lbContactPhoto");
        picture->setAccessibleName("Foto");
        picture->setPixmap(
            photo.scaled(kPhotoSize, kPhotoSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        head->addWidget(picture, 0, Qt::AlignTop);
    }
    auto* names = new QVBoxLayout;
    auto* name = PlainLabel(Q(card.formattedName));
    name->setObjectName("lbContactName");
    name->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont big = name->font();
    big.setPointSize(big.pointSize() * 3 / 2);
    big.setBold(true);
    name->setFont(big);
    names->addWidget(name);
    if (!card.organisation.empty()) {
        auto* org = PlainLabel(Q(card.organisation));
        org->setObjectName("lbContactOrganisation");
        org->setTextInteractionFlags(Qt::TextSelectableByMouse);
        names->addWidget(org);
    }
    names->addStretch();
    head->addLayout(names, 1);
    layout->addLayout(head);

    auto* numbers = new QTreeWidget;
    numbers->setObjectName("tvContactNumbers");
    numbers->setAccessibleName("Rufnummern");
    numbers->setRootIsDecorated(false);
    numbers->setHeaderLabels({"Rufnummer", "Art"});
    for (const auto& phone : card.phones)
        new QTreeWidgetItem(numbers, QStringList{Q(phone.number), Q(phone.type)});
    numbers->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    layout->addWidget(numbers);

    if (!card.emails.empty()) {
        auto* mails = new QListWidget;
        mails->setObjectName("lbContactMail");
        mails->setAccessibleName("E-Mail-Adressen");
        for (const auto& m : card.emails) mails->addItem(Q(m));
        mails->setMaximumHeight(mails->sizeHintForRow(0) * std::min<int>(3, mails->count()) + 6);
        layout->addWidget(mails);
    }

    auto* from = PlainLabel(QFileInfo(Q(file)).fileName());
    from->setObjectName("lbContactFile");
    from->setToolTip(Qt::convertFromPlainText(Q(file), Qt::WhiteSpaceNoWrap));
    from->setEnabled(false);
    auto* buttons = new QDialogButtonBox;
    QPushButton* close = buttons->addButton("&Schließen", QDialogButtonBox::RejectRole);
    close->setObjectName("BtnCloseContact");
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* foot = new QHBoxLayout;
    foot->addWidget(from, 1);
    foot->addWidget(buttons);
    layout->addLayout(foot);
    resize(360, sizeHint().height());
}

ContactWindows::~ContactWindows() {
    for (auto& w : windows_) delete w.data();
}

void ContactWindows::ShowContact(const ContactCard& card, const std::string& file) {
    std::erase_if(windows_, [](const QPointer<QWidget>& w) { return w.isNull(); });
    auto* view = new ContactView(card, file);
    windows_.emplace_back(view);
    view->show();
    view->raise();
}

std::vector<QWidget*> ContactWindows::Open() const {
    std::vector<QWidget*> open;
    for (const auto& w : windows_)
        if (!w.isNull()) open.push_back(w.data());
    return open;
}

}  // namespace tolvar
