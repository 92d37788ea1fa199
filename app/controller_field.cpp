#include "app/controller_field.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

#include "app/main_form.h"
#include "app/page_widgets.h"

namespace tolvar {

QGroupBox* ControllerGroup(TMainForm& form) {
    QGroupBox* group = page::Group("CAPI", "gbCapi");
    auto* row = page::Tight(new QHBoxLayout(group));
    auto* label = new QLabel("Controller:");
    auto* field = new QLineEdit;
    field->setObjectName("edController");
    field->setAccessibleName("Controller");
    field->setAccessibleDescription("Nummern durch Kommas getrennt, oder * für alle");
    field->setPlaceholderText("1");
    field->setMaximumWidth(field->fontMetrics().horizontalAdvance("1,2,3,4,5,6") + 16);
    label->setBuddy(field);
    row->addWidget(label);
    row->addWidget(field);
    row->addStretch();
    form.RegisterControl(Control::edController, field);
    return group;
}

}  // namespace tolvar
