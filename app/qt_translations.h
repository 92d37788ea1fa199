#pragma once
// Qt's own texts (the standard buttons, the file dialog, the editors' context
// menus) in German, as the rest of the window is, whatever the session's
// language.

class QCoreApplication;
class QTranslator;

namespace tolvar {

// Installs Qt's German translations into app, which owns them. None when they
// are missing (the package with Qt's translations is not installed): Qt's
// texts stay English then, nothing else changes.
QTranslator* InstallQtTranslations(QCoreApplication& app);

}  // namespace tolvar
