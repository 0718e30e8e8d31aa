#include "tandem/shell/qt/QtChoiceWindow.h"
#include "tandem/looks/KoalaLook.h"

#include "tandem/shell/qt/ArtProbes.h"

#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <map>

namespace tandem {
namespace {

KoalaChoiceButton* button(QtChoiceWindow& window, const QString& title) {
    for (auto* candidate : window.window()->findChildren<QAbstractButton*>())
        if (candidate->text() == title) return dynamic_cast<KoalaChoiceButton*>(candidate);
    return nullptr;
}

// What the callbacks saw: each pick with whether the window was still open at that moment.
struct Calls {
    std::vector<std::pair<ControllerPick, bool>> picks;
    int webcam = 0;
    void wire(QtChoiceWindow& window) {
        window.onChoose = [this, &window](ControllerPick pick) {
            picks.emplace_back(pick, window.isVisible());
        };
        window.onWebcam = [this] { ++webcam; };
    }
};

void click(QtChoiceWindow& window, const QString& title) {
    KoalaChoiceButton* target = button(window, title);
    ASSERT_NE(target, nullptr) << title.toStdString();
    QTest::mouseClick(target, Qt::LeftButton);
}

TEST(QtChoiceWindow, AControllerClosesTheWindowFirstThenIsChosen) {
    QtChoiceWindow choice;
    Calls calls;
    calls.wire(choice);
    choice.show();
    ASSERT_TRUE(choice.isVisible());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(choice.window()));

    click(choice, "MPC TOUCH");
    EXPECT_FALSE(choice.isVisible());
    ASSERT_EQ(calls.picks.size(), 1u);
    EXPECT_EQ(calls.picks[0], std::make_pair(ControllerPick::mpcTouch, false)) << "called after it closed";

    // The same window serves the next pick.
    choice.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(choice.window()));
    click(choice, "PUSH 2");
    ASSERT_EQ(calls.picks.size(), 2u);
    EXPECT_EQ(calls.picks[1], std::make_pair(ControllerPick::push2, false));
    EXPECT_EQ(calls.webcam, 0);

    // Without callbacks a pick still closes the window.
    QtChoiceWindow bare;
    bare.show();
    bare.chooseTouch();
    bare.chooseWebcam();
    EXPECT_FALSE(bare.isVisible());
}

} // namespace
} // namespace tandem
