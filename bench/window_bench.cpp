// The window with years of calls: memory per event-log line and per ISDN
// trace line in the window (the engine's stores, the lists' models and
// views), the time from the request to show "Ereignisprotokoll" with a
// 100,000-line log to its first paint, and the time to paint each step of
// scrolling through it, against painting it with an empty log.
//
//   window_bench [--shot FILE]     the measurements; FILE gets a screenshot
//   window_bench log|trace N       one memory measurement ("HEAP TEXTBYTES")
//
// Runs on the platform Qt is given (offscreen by default, or X under xvfb-run).

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QListView>
#include <QPixmap>
#include <QScrollBar>
#include <QTabWidget>
#include <iostream>

#include "app/main_form.h"
#include "bench/bench_util.h"
#include "bench/memory_probe.h"
#include "bench/null_front_end.h"
#include "engine/engine.h"
#include "support/test_host.h"

using namespace tolvar;
using namespace tolvar::bench;

namespace {

double Ms(Steady::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The window and its engine on a simulated CAPI, as the desktop program has them.
class Window {
  public:
    Window(const std::filesystem::path& home, bool isdnPage) {
        WriteFile(home / "registry.reg", SettingsText(0, isdnPage));
        form.SetDialogs(&dialogs);
        engine = std::make_unique<Engine>(
            EngineHost{.capi = capi,
                       .clock = time,
                       .timers = time,
                       .io = io,
                       .ui = form,
                       .dialogs = dialogs,
                       .devices = dialogs.AllDevices(),
                       .registryPath = (home / "registry.reg").string(),
                       .post = [this](std::function<void()> fn) { posted.push_back(fn); },
                       .eventLogPath = (home / "Tolvar.txt").string()});
        form.SetEngine(engine.get());
        engine->FormCreate();
        for (auto& fn : posted) fn();
        posted.clear();
    }
    ~Window() {
        engine.reset();
        form.SetEngine(nullptr);
    }

    test::RecordingFrontEnd dialogs;
    VirtualTime time;
    test::FakeCapi capi;
    test::FakeIo io{capi, time};
    std::vector<std::function<void()>> posted;
    TMainForm form;
    std::unique_ptr<Engine> engine;
};

void Settle() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

int Measure(const std::string& what, std::size_t count) {
    Scratch home;
    if (what == "log" && count > 0) WriteFile(home / "Tolvar.txt", LogFileText(count));
    Window w(home.Path(), what == "trace");
    w.engine->ShowWindow(what == "log" ? Page::Protokoll : Page::ISDN);
    Settle();
    const std::size_t before = HeapInUse();
    if (what == "trace") FeedTraceMessages(w.capi, w.io, count, [] { Settle(); });
    Settle();
    const std::size_t after = HeapInUse();
    const std::size_t text = what == "log" ? w.engine->Log().Lines().TextBytes()
                                           : w.engine->Capi().IsdnTrace().TextBytes();
    std::cout << (what == "log" ? after : after - before) << " " << text << std::endl;
    return 0;
}

// Shows "Ereignisprotokoll" and returns the time until its list has painted.
double FirstPaint(Window& w) {
    QListView* list = w.form.EventLogList();
    struct PaintSeen : QObject {
        bool seen = false;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) seen = true;
            return false;
        }
    } filter;
    list->viewport()->installEventFilter(&filter);
    const auto t0 = Steady::now();
    w.engine->ShowWindow(Page::Protokoll);
    // The paint event runs inside processEvents: once it has been seen there,
    // the list has painted.
    while (!filter.seen) QApplication::processEvents(QEventLoop::AllEvents, 5);
    const double ms = Ms(Steady::now() - t0);
    list->viewport()->removeEventFilter(&filter);
    return ms;
}

// Scrolls from the end to the top a page at a time: each step's time until
// painted.
std::vector<double> ScrollSteps(Window& w, int steps) {
    QListView* list = w.form.EventLogList();
    std::vector<double> times;
    for (int i = 0; i < steps; ++i) {
        const auto t0 = Steady::now();
        QScrollBar* bar = list->verticalScrollBar();
        bar->setValue(bar->value() - bar->pageStep() * 37);  // a long way up each time
        list->viewport()->repaint();
        times.push_back(Ms(Steady::now() - t0));
        QApplication::processEvents();
    }
    return times;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    try {
        if (argc == 3 && std::string(argv[1]) != "--shot")
            return Measure(argv[1], std::stoul(argv[2]));
        const std::string shot = argc == 3 ? argv[2] : "";

        std::cout << "the window on " << QGuiApplication::platformName().toStdString() << "\n";
        std::vector<double> empty, full, steps, emptySteps;
        for (int r = 0; r < 5; ++r) {
            Scratch none;
            Window w(none.Path(), false);
            empty.push_back(FirstPaint(w));
            const auto s = ScrollSteps(w, 10);
            emptySteps.insert(emptySteps.end(), s.begin(), s.end());
        }
        Scratch home;
        WriteFile(home / "Tolvar.txt", LogFileText(100000));
        for (int r = 0; r < 5; ++r) {
            Window w(home.Path(), false);
            full.push_back(FirstPaint(w));
            const auto s = ScrollSteps(w, 40);
            steps.insert(steps.end(), s.begin(), s.end());
            if (r == 4 && !shot.empty()) {
                // Back at the newest lines, as the window opens.
                w.form.EventLogList()->scrollToBottom();
                Settle();
                if (!w.form.grab().save(QString::fromStdString(shot)))
                    throw std::runtime_error("cannot save " + shot);
                Note("screenshot: " + shot);
            }
        }
        Note("scrolling through 105000 lines: a step painted in " + std::to_string(Median(steps)) +
             " ms (slowest " + std::to_string(Percentile(steps, 1.0)) + " ms); with an empty log " +
             std::to_string(Median(emptySteps)) + " ms");
        bool met = Report("first paint of \"Ereignisprotokoll\", 100000 call lines", Median(full),
                          "ms", "the same with an empty log", Median(empty), std::nullopt);
        std::cout << "memory in the window: heap in use for the lines against their text\n";
        met &= ReportLines("window", BinDir() + "/window_bench");
        return met ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "window_bench: " << e.what() << "\n";
        return 2;
    }
}
