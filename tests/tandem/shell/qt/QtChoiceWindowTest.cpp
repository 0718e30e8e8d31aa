#include "tandem/shell/qt/QtChoiceWindow.h"
#include "tandem/looks/KoalaLook.h"

#include "tandem/shell/qt/ArtProbes.h"

#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <map>

namespace tandem {
namespace {

using probes::nearRgb;

struct Expected {
    QRect frame; // Qt's, from the top-left
    double size;
};

// The window's table, its bottom-left frames turned top-left by hand: y = 380 − y − height.
const std::map<QString, Expected> labelTable = {
    {"TANDEM", {{35, 34, 650, 60}, 38}},
    {"Choose your controller", {{35, 106, 650, 32}, 21}},
    {"Touchscreen · 4 pad banks · Q-Links", {{35, 254, 320, 26}, 16}},
    {"64 pads · Koala screens · encoders & strip", {{375, 254, 315, 26}, 16}},
    {"You can change controllers or open Webcam from the Tandem menu.", {{35, 340, 650, 24}, 14}},
};
const std::map<QString, Expected> buttonTable = {
    {"MPC TOUCH", {{35, 169, 310, 75}, 25}},
    {"PUSH 2", {{375, 169, 310, 75}, 25}},
    {"WEBCAM SETUP", {{35, 290, 650, 42}, 18}},
};

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

TEST(QtChoiceWindow, IsTitled720By380AndLaidOutAsItsTable) {
    QtChoiceWindow choice;
    QWidget* window = choice.window();
    EXPECT_EQ(window->windowTitle(), QString("Tandem · Choose your controller"));
    EXPECT_EQ(window->size(), QSize(720, 380));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "not resizable";
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(choice.isVisible()) << "shown only when asked";

    // Found by their C++ type: these widgets declare no meta-object of their own.
    std::vector<QWidget*> backgrounds;
    for (QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (dynamic_cast<KoalaChoiceBackground*>(child)) backgrounds.push_back(child);
    ASSERT_EQ(backgrounds.size(), 1u);
    EXPECT_EQ(backgrounds.front()->geometry(), QRect(0, 0, 720, 380));

    const auto labels = window->findChildren<QLabel*>();
    EXPECT_EQ(labels.size(), qsizetype(labelTable.size()));
    for (const QLabel* label : labels) {
        auto expected = labelTable.find(label->text());
        ASSERT_NE(expected, labelTable.end()) << label->text().toStdString();
        EXPECT_EQ(label->geometry(), expected->second.frame) << label->text().toStdString();
        EXPECT_EQ(label->font().pixelSize(), KoalaLook::font(expected->second.size).pixelSize());
        EXPECT_EQ(label->font().family(), KoalaLook::font(expected->second.size).family());
    }
    auto colour = [&](const QString& text) {
        for (const QLabel* label : labels)
            if (label->text() == text) return label->palette().color(QPalette::WindowText);
        return QColor();
    };
    EXPECT_EQ(colour("TANDEM"), KoalaLook::pink);
    EXPECT_EQ(colour("Choose your controller"), QColor(Qt::white));
    EXPECT_EQ(colour("Touchscreen · 4 pad banks · Q-Links"), KoalaLook::muted);
    EXPECT_EQ(colour("You can change controllers or open Webcam from the Tandem menu."), KoalaLook::muted);

    EXPECT_EQ(window->findChildren<QAbstractButton*>().size(), qsizetype(buttonTable.size()));
    for (const auto& [title, expected] : buttonTable) {
        const KoalaChoiceButton* found = button(choice, title);
        ASSERT_NE(found, nullptr) << title.toStdString();
        EXPECT_EQ(found->geometry(), expected.frame) << title.toStdString();
        EXPECT_EQ(found->font().pixelSize(), KoalaLook::font(expected.size).pixelSize())
            << title.toStdString();
    }
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

TEST(QtChoiceWindow, WebcamTwiceAsksTwiceAndLeavesTheWindowOpenAndTheCloseButtonCallsNothing) {
    QtChoiceWindow choice;
    Calls calls;
    calls.wire(choice);
    choice.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(choice.window()));
    click(choice, "WEBCAM SETUP");
    click(choice, "WEBCAM SETUP");
    EXPECT_EQ(calls.webcam, 2);
    EXPECT_TRUE(choice.isVisible());
    EXPECT_TRUE(calls.picks.empty());

    // What the title bar's close button sends.
    EXPECT_TRUE(choice.window()->close());
    QCoreApplication::processEvents();
    EXPECT_FALSE(choice.isVisible());
    EXPECT_TRUE(calls.picks.empty());
    EXPECT_EQ(calls.webcam, 2);
    EXPECT_FALSE(choice.window()->testAttribute(Qt::WA_QuitOnClose)) << "closing it never ends Tandem";

    choice.show();
    EXPECT_TRUE(choice.isVisible()) << "kept for the next pick";
    choice.close();
    EXPECT_FALSE(choice.isVisible());
    EXPECT_TRUE(calls.picks.empty());
}

TEST(QtChoiceWindow, AButtonIsBlueAndTurnsPinkWhilePressed) {
    QtChoiceWindow choice;
    KoalaChoiceButton* touch = button(choice, "MPC TOUCH");
    ASSERT_NE(touch, nullptr);
    const QSize size = touch->size();

    const QImage up = touch->grab().toImage();
    touch->setDown(true);
    const QImage down = touch->grab().toImage();
    touch->setDown(false);

    const QPoint inside(8, size.height() / 2); // left of the title, inside the fill
    EXPECT_TRUE(nearRgb(KoalaLook::blue, 2)(up.pixelColor(inside)));
    EXPECT_TRUE(nearRgb(KoalaLook::pink, 2)(down.pixelColor(inside)));
    // The fill is inset by one point and rounded: its corner is not the button's colour.
    for (const QImage* image : {&up, &down}) {
        EXPECT_FALSE(nearRgb(KoalaLook::blue, 60)(image->pixelColor(2, 2)));
        EXPECT_FALSE(nearRgb(KoalaLook::pink, 60)(image->pixelColor(2, 2)));
        EXPECT_FALSE(nearRgb(KoalaLook::blue, 60)(image->pixelColor(0, size.height() / 2)));
    }

    // The white title sits in the middle, by its measured size, in both states.
    for (const QImage* image : {&up, &down}) {
        const QRect title = probes::box(*image, image->rect(), nearRgb(Qt::white, 40));
        ASSERT_FALSE(title.isEmpty());
        EXPECT_NEAR(title.center().x(), size.width() / 2.0, 3);
        EXPECT_NEAR(title.center().y(), size.height() / 2.0, 6);
        EXPECT_GT(title.width(), 80) << "\"MPC TOUCH\" at 25 pixels";
    }
    EXPECT_EQ(KoalaChoiceButton::fillFor(true), KoalaLook::pink);
    EXPECT_EQ(KoalaChoiceButton::fillFor(false), KoalaLook::blue);
}

} // namespace
} // namespace tandem
