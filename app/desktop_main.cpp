#include "app/desktop_main.h"

#include <QApplication>
#include <QSystemTrayIcon>

#include "app/main_form.h"
#include "app/qt_timer_service.h"
#include "capi/libcapi20_driver.h"
#include "engine/engine.h"

namespace tolvar {

int RunDesktop(int argc, char** argv, const Options& options) {
    QApplication app(argc, argv);
    app.setApplicationName("Tolvar");
    // Hiding the last window must not end the program: it lives in the tray.
    app.setQuitOnLastWindowClosed(false);

    TMainForm form;
    QtTimerService timers;
    Libcapi20Driver driver(options.remote);
    SystemClock clock;
    Engine engine({driver, clock, timers, form, options.registryPath,
                   [&form](std::function<void()> fn) { form.Post(std::move(fn)); }, true});
    form.SetEngine(&engine);
    engine.FormCreate();
    // Without a tray the hidden window could never be reached again.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) engine.ShowWindow();

    const int code = app.exec();
    engine.FormDestroy();
    form.SetEngine(nullptr);
    return code;
}

}  // namespace tolvar
