#include "tandem/shell/qt/QtDesktop.h"

#include "base/ActivityLog.h"
#include "support/ScratchHome.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <sstream>

namespace tandem {
namespace {

// Small real windows standing in for the card and choice windows.
class PlainCard final : public CardWindow {
public:
    explicit PlainCard(const CardWindowPlan& plan)
        : plan(plan)
        , status(plan.status) {}
    void setStatus(const std::string& text) override { status = text; }
    void close() override { window.close(); }

    CardWindowPlan plan;
    std::string status;
    QWidget window;
};

class PlainChoice final : public ChoiceWindow {
public:
    void show() override {
        window.show();
        window.activateWindow();
    }
    void close() override { window.close(); }
    bool isVisible() const override { return window.isVisible(); }

    QWidget window;
};

// The six entries as Tandem installs them, counting what each one is asked to do.
struct Menu {
    std::map<std::string, int> calls;
    std::vector<MenuEntry> entries() {
        auto count = [this](std::string title) { return [this, title] { ++calls[title]; }; };
        return {
            {"Open Koala Again", "o", "o", count("Open Koala Again")},
            {"Choose Controller…", "", "", count("Choose Controller…")},
            {"Webcam…", "w", "", count("Webcam…"), false},
            {"Webcam Preview", "", "", count("Webcam Preview"), false},
            {"", "", "", {}},
            {"Quit Tandem", "q", "q", count("Quit Tandem")},
        };
    }
};

struct Made {
    int choices = 0;
    std::vector<CardWindowPlan> cards;
};

std::unique_ptr<QtDesktop> makeDesktop(Made& made) {
    return std::make_unique<QtDesktop>(
        QIcon(),
        [&made](const CardWindowPlan& plan) -> std::unique_ptr<CardWindow> {
            made.cards.push_back(plan);
            return std::make_unique<PlainCard>(plan);
        },
        [&made]() -> std::unique_ptr<ChoiceWindow> {
            ++made.choices;
            return std::make_unique<PlainChoice>();
        });
}

std::vector<std::string> titles(QMenu* menu) {
    std::vector<std::string> result;
    for (QAction* action : menu->actions())
        result.push_back(action->isSeparator() ? "—" : action->text().toStdString());
    return result;
}

std::vector<std::string> shortcuts(QMenu* menu) {
    std::vector<std::string> result;
    for (QAction* action : menu->actions())
        result.push_back(action->shortcut().toString(QKeySequence::NativeText).toStdString());
    return result;
}

QAction* entry(QMenu* menu, const std::string& title) {
    for (QAction* action : menu->actions())
        if (action->text().toStdString() == title) return action;
    return nullptr;
}

const std::vector<std::string> sixTitles = {
    "Open Koala Again", "Choose Controller…", "Webcam…", "Webcam Preview", "—", "Quit Tandem"};

TEST(QtDesktop, BothMenusHoldTheSixEntriesInOrderWithTheirOwnKeys) {
    Made made;
    auto desktop = makeDesktop(made);
    EXPECT_EQ(desktop->statusItem(), nullptr);
    Menu menu;
    desktop->installMenus(menu.entries());

    ASSERT_NE(desktop->statusMenu(), nullptr);
    ASSERT_NE(desktop->mainMenu(), nullptr);
    EXPECT_EQ(titles(desktop->statusMenu()), sixTitles);
    EXPECT_EQ(titles(desktop->mainMenu()), sixTitles);
    EXPECT_TRUE(desktop->mainMenu()->title().isEmpty());
    EXPECT_EQ(shortcuts(desktop->statusMenu()),
              (std::vector<std::string>{"Ctrl+O", "", "", "", "", "Ctrl+Q"}));
    EXPECT_EQ(shortcuts(desktop->mainMenu()),
              (std::vector<std::string>{"Ctrl+O", "", "Ctrl+W", "", "", "Ctrl+Q"}));

    ASSERT_NE(desktop->statusItem(), nullptr);
    EXPECT_EQ(desktop->statusItem()->contextMenu(), desktop->statusMenu());

    // Entries start as asked, and choosing one runs its action.
    for (QMenu* each : {desktop->statusMenu(), desktop->mainMenu()}) {
        EXPECT_TRUE(entry(each, "Open Koala Again")->isEnabled());
        EXPECT_FALSE(entry(each, "Webcam…")->isEnabled());
        EXPECT_FALSE(entry(each, "Webcam Preview")->isEnabled());
    }
    entry(desktop->statusMenu(), "Choose Controller…")->trigger();
    entry(desktop->mainMenu(), "Quit Tandem")->trigger();
    EXPECT_EQ(menu.calls, (std::map<std::string, int>{{"Choose Controller…", 1}, {"Quit Tandem", 1}}));

    // Entries are enabled by title in both menus; the tool tip is "Tandem" until set.
    EXPECT_EQ(desktop->statusItem()->toolTip(), "Tandem");
    desktop->setStatusToolTip("Starting the MPC Touch…");
    EXPECT_EQ(desktop->statusItem()->toolTip(), "Starting the MPC Touch…");

    desktop->setMenuEntryEnabled("Webcam…", true);
    desktop->setMenuEntryEnabled("Quit Tandem", false);
    desktop->setMenuEntryEnabled("No such entry", false);
    for (QMenu* each : {desktop->statusMenu(), desktop->mainMenu()}) {
        EXPECT_TRUE(entry(each, "Webcam…")->isEnabled());
        EXPECT_FALSE(entry(each, "Quit Tandem")->isEnabled());
    }

    // A status line set before the menus are there is what the item shows once it is.
    auto early = makeDesktop(made);
    early->setStatusToolTip("Starting…");
    early->installMenus(menu.entries());
    EXPECT_EQ(early->statusItem()->toolTip(), "Starting…");
}

TEST(QtDesktop, TerminateEndsTheEventLoopAndTellsOnceWhileClosingWindowsDoesNot) {
    Made made;
    auto desktop = makeDesktop(made);
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());
    QTimer failsafe;
    failsafe.setSingleShot(true);
    QObject::connect(&failsafe, &QTimer::timeout, [] { QCoreApplication::exit(9); });

    // The last window closing leaves the loop running.
    QWidget only;
    only.show();
    QTimer::singleShot(0, &only, [&] { only.close(); });
    QTimer::singleShot(50, [] { QCoreApplication::exit(7); });
    failsafe.start(5000);
    EXPECT_EQ(QApplication::exec(), 7);

    auto ending = makeDesktop(made);
    int told = 0;
    ending->onWillTerminate = [&] { ++told; };
    QTimer::singleShot(5, [&] { ending->terminate(); });
    failsafe.start(5000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(told, 1);

    // Asked before the loop runs: the loop ends as it starts, and nobody is told twice.
    ending->terminate();
    failsafe.start(5000);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(told, 1);
    failsafe.stop();
}

} // namespace
} // namespace tandem
