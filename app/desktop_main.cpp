#include "app/desktop_main.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <cstdlib>
#include <iostream>

#include "app/display_check.h"
#include "app/main_form.h"
#include "app/quit_signals.h"
#include "capi/libcapi20_driver.h"
#include "desktop/qt_timer_service.h"
#include "engine/engine.h"

namespace tolvar {

int RunDesktop(int argc, char** argv, const Options& options) {
    if (!DisplayAvailable([](const char* name) { return std::getenv(name); })) {
        std::cerr << kNoDisplayHint << '\n';
        return 1;
    }
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
    // Lives past FormDestroy, so a late signal cannot cut the release short.
    QuitSignals quitSignals([&engine] { engine.Guard([&engine] { engine.cmQuitClick(); }); });
    engine.FormCreate();
    // Without a tray the hidden window could never be reached again.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) engine.ShowWindow();

    const int code = app.exec();
    engine.FormDestroy();
    form.SetEngine(nullptr);
    return code;
}

}  // namespace tolvar
