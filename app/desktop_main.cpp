#include "app/desktop_main.h"

#include <QApplication>
#include <QSessionManager>
#include <QSystemTrayIcon>
#include <cstdlib>
#include <iostream>

#include "app/desktop_devices.h"
#include "app/desktop_page.h"
#include "app/display_check.h"
#include "app/main_form.h"
#include "app/qt_dialogs.h"
#include "app/qt_io_service.h"
#include "app/qt_timer_service.h"
#include "app/qt_translations.h"
#include "app/quit_signals.h"
#include "capi/libcapi20_driver.h"
#include "core/single_instance.h"
#include "desktop/autostart.h"
#include "engine/engine.h"

namespace tolvar {

int RunDesktop(int argc, char** argv, const Options& options) {
    if (!DisplayAvailable([](const char* name) { return std::getenv(name); })) {
        std::cerr << kNoDisplayHint << '\n';
        return 1;
    }
    pid_t holder = 0;
    const auto instance = SingleInstance::Claim(options.registryPath, holder);
    if (!instance) {
        // The running copy shows its window instead.
        SingleInstance::AskToShow(options.registryPath);
        std::cerr << "tolvar: " << AlreadyRunningText(holder) << '\n';
        return 0;
    }
    QApplication app(argc, argv);
    app.setApplicationName("Tolvar");
    // Hiding the last window must not end the program: it lives in the tray.
    app.setQuitOnLastWindowClosed(false);
    InstallQtTranslations(app);

    TMainForm form;
    QtDialogs dialogs(&form);
    form.SetDialogs(&dialogs);
    QtTimerService timers;
    QtIoService io;
    DesktopDevices devices;
    Libcapi20Driver driver(options.remote);
    SystemClock clock;
    Engine engine({.capi = driver,
                   .clock = clock,
                   .timers = timers,
                   .io = io,
                   .ui = form,
                   .dialogs = dialogs,
                   .devices = devices.All(),
                   .registryPath = options.registryPath,
                   .post = [&form](std::function<void()> fn) { form.Post(std::move(fn)); }});
    form.SetEngine(&engine);
    form.DesktopOptions()->AddAutostartOption(
        Autostart(Autostart::DefaultEntryPath(), Autostart::RunningProgram(), options.registryPath,
                  options.remote ? options.remote->driver + ":" + options.remote->host + ":" +
                                       std::to_string(options.remote->port)
                                 : ""));
    io.Watch(instance->Fd(), [&] {
        if (instance->TakeRequest()) engine.Guard([&] { engine.ShowWindow(); });
    });
    // A session that ends (logout) keeps the edits as "B&eenden" would; the
    // session manager may still cancel the logout, so the program goes on.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form,
                     [&engine](QSessionManager&) { engine.SaveBeforeEnd(); });
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
