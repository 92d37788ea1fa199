#pragma once
// Small builders the page "Desktop" and its groups share.

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

namespace tolvar::page {

inline QGroupBox* Group(const char* title, const char* name) {
    auto* box = new QGroupBox(title);
    box->setObjectName(name);
    return box;
}

// The page's groups sit close, as the page is short.
template <class L>
L* Tight(L* layout) {
    layout->setContentsMargins(8, 4, 8, 4);
    layout->setSpacing(3);
    return layout;
}

// A field named for its control, reached by its label's shortcut.
inline QLineEdit* Field(const char* name, QLabel* label) {
    auto* edit = new QLineEdit;
    edit->setObjectName(name);
    label->setBuddy(edit);
    return edit;
}

}  // namespace tolvar::page
