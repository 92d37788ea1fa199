#include "app/simple_pages.h"

#include <QLabel>
#include <QVBoxLayout>

#include "app/line_list.h"

namespace tolvar {

InfoPage::InfoPage() {
    setObjectName("tsInfo");
    auto* info = new QVBoxLayout(this);
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
}

IsdnPage::IsdnPage() {
    setObjectName("tsISDN");
    auto* isdn = new QVBoxLayout(this);
    LBISDNTrace = new LineListView;
    LBISDNTrace->setObjectName("LBISDNTrace");
    LBISDNTrace->setAccessibleName("ISDN-Protokoll");
    QFont mono("Monospace");
    mono.setStyleHint(QFont::TypeWriter);
    LBISDNTrace->setFont(mono);
    isdn->addWidget(LBISDNTrace);
}

void IsdnPage::Detach() {
    LBISDNTrace->Lines()->Show(nullptr);
}

void IsdnPage::Appended(const LineStore& trace) {
    LineListModel* model = LBISDNTrace->Lines();
    if (model->rowCount() == 0) model->Show(&trace);
    model->Appended();
    LBISDNTrace->FollowEnd();
}

QListView* IsdnPage::List() const {
    return LBISDNTrace;
}

}  // namespace tolvar
