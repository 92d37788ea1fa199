#include "app/qt_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QWidget>

#include "app/qt_text.h"

namespace tolvar {

Dialogs::Answer QtDialogs::MessageBox(Kind kind, const std::string& text) {
    const QString title = parent_ ? parent_->windowTitle() : QString("Tolvar");
    // The texts break lines with CR, as the system's boxes did.
    const QString body = Q(text).replace('\r', '\n');
    QMessageBox::StandardButton pressed = QMessageBox::Ok;
    switch (kind) {
        case Kind::Information:
            pressed = QMessageBox::information(parent_, title, body);
            break;
        case Kind::Warning:
            pressed = QMessageBox::warning(parent_, title, body);
            break;
        case Kind::Error:
            pressed = QMessageBox::critical(parent_, title, body);
            break;
    }
    return pressed == QMessageBox::Ok ? Answer::Ok : Answer::Cancel;
}

std::optional<std::string> QtDialogs::ChooseFile(const FileChoice& choice) {
    const QString file =
        choice.folder
            ? QFileDialog::getExistingDirectory(parent_, Q(choice.title), Q(choice.startFolder))
            : QFileDialog::getOpenFileName(parent_, Q(choice.title), Q(choice.startFolder),
                                           Q(choice.filter));
    if (file.isEmpty()) return std::nullopt;
    return file.toStdString();
}

}  // namespace tolvar
