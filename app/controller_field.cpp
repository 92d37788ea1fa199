#include "app/controller_field.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

#include "app/main_form.h"

namespace tolvar {

QGroupBox* ControllerGroup(TMainForm& form) {
    auto* group = new QGroupBox("CAPI");
    group->setObjectName("gbCapi");
    auto* row = new QHBoxLayout(group);
    row->setContentsMargins(8, 4, 8, 4);
    row->setSpacing(3);
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
