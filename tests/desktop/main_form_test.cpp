#include <unistd.h>
#include <filesystem>
#include <fstream>
// The real main window, driven headless through its object names.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QListWidget>
#include <QTabWidget>

#include "app/main_form.h"
#include "core/virtual_time.h"
#include "engine/engine.h"
#include "support/fake_capi.h"

namespace tolvar {
namespace {

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() / ("tolvar-gui-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        registry = (dir / "registry.reg").string();
        std::filesystem::remove(registry);
    }
    void TearDown() override {
        engine.reset();
        form.reset();
        std::filesystem::remove_all(dir);
    }
    void Start(const std::string& hive = "") {
        if (!hive.empty()) std::ofstream(registry) << "Windows Registry Editor Version 5.00\n\n" << hive;
        form = std::make_unique<TMainForm>();
        engine = std::make_unique<Engine>(EngineHost{capi, time, time, *form, registry,
                                                     [this](std::function<void()> fn) { posted.push_back(fn); }, false});
        form->SetEngine(engine.get());
        engine->FormCreate();
        for (auto& fn : posted) fn();
        posted.clear();
    }
    QStringList TabCaptions() {
        QStringList captions;
        auto* tabs = form->findChild<QTabWidget*>("PageControl");
        for (int i = 0; i < tabs->count(); ++i) captions << tabs->tabText(i);
        return captions;
    }

    std::filesystem::path dir;
    std::string registry;
    test::FakeCapi capi;
    VirtualTime time;
    std::vector<std::function<void()>> posted;
    std::unique_ptr<TMainForm> form;
    std::unique_ptr<Engine> engine;
};

TEST_F(MainFormTest, PagesInOrderAndIsdnHiddenByDefault) {
    Start();
    EXPECT_EQ(TabCaptions(), (QStringList{"Ereignisprotokoll", "Überwachung", "SMS senden", "D-Mail senden",
                                          "MS Office", "Info"}));
    EXPECT_FALSE(form->isVisible());
    // The default rules of a first start bring up their page.
    EXPECT_EQ(form->findChild<QTabWidget*>("PageControl")->currentWidget()->objectName(), "tsUeberwachung");
    EXPECT_EQ(form->findChild<QListWidget*>("LBISDNTrace")->count(), 0);
}

TEST_F(MainFormTest, IsdnPageShowsTheTrace) {
    capi.manufacturer = "Testkarte";
    Start("[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar]\n\"ShowISDNTab\"=dword:00000001\n\n");
    EXPECT_EQ(TabCaptions().last(), "ISDN");
    EXPECT_EQ(form->windowTitle(), "Tolvar   Version 2.7   CAPI Hersteller:Testkarte");
    auto* trace = form->findChild<QListWidget*>("LBISDNTrace");
    ASSERT_EQ(trace->count(), 1);
    EXPECT_EQ(trace->item(0)->text(), "LISTEN_REQ 0000   00000001   FF 03 00 00 FF 03 FF 1F 01 00 00 00 00 00 ");
}

TEST_F(MainFormTest, FixedClientAreaAndCloseBoxHides) {
    Start();
    auto* tabs = form->findChild<QTabWidget*>("PageControl");
    EXPECT_EQ(tabs->size(), QSize(520, 296));
    engine->ShowWindow();
    EXPECT_TRUE(form->isVisible());
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(engine->WindowVisible());
}

TEST_F(MainFormTest, TabClicksReachTheEngine) {
    Start();
    engine->ShowWindow();
    auto* tabs = form->findChild<QTabWidget*>("PageControl");
    tabs->setCurrentIndex(0);
    EXPECT_EQ(engine->ActivePage(), Page::Protokoll);
    engine->SetActivePage(Page::Info);
    EXPECT_EQ(tabs->currentWidget()->objectName(), "tsInfo");
}

}  // namespace
}  // namespace tolvar

int main(int argc, char** argv) {
    // Headless unless told otherwise; test discovery runs without the test environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
