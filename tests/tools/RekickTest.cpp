#include "tools/ToolRig.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tandem::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Reenum = SimUsbHost::ReEnumeration;

TEST(Rekick, EachSelection) {
    struct Case {
        std::vector<std::string> arguments;
        std::string out;
        Reenum reset;
    };
    const Case cases[] = {
        {{},
         "controller 09e8:0037: re-enumerate (open) → 0x0 ok\n",
         {SimMpcTouch::controllerLocation, "MPC Touch", false}},
        {{"screen"},
         "screen 17e9:ff00: re-enumerate (open) → 0x0 ok\n",
         {SimMpcTouch::screenLocation, "MPC Touch Display", false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.empty() ? "(none)" : c.arguments[0]);
        ToolRig rig;
        EXPECT_EQ(rig.rekick(c.arguments), 0);
        EXPECT_EQ(rig.out.str(), c.out);
        EXPECT_THAT(rig.usb.reEnumerations(), ElementsAre(c.reset));
        // It came back as a new object.
        EXPECT_TRUE(rig.mpc.partPlugged(SimMpcTouch::Part::controller));
    }
}

TEST(Rekick, UnknownWordTouchesNothing) {
    ToolRig rig;
    EXPECT_EQ(rig.rekick({"scren"}), 1);
    EXPECT_EQ(rig.err.str(), "usage: rekick [screen|all]\n");
    EXPECT_EQ(rig.out.str(), "");
    EXPECT_THAT(rig.usb.reEnumerations(), IsEmpty());
}

TEST(Rekick, NotFound) {
    ToolRig rig(false);
    EXPECT_EQ(rig.rekick(), 1);
    EXPECT_EQ(rig.rekick({"screen"}), 1);
    EXPECT_EQ(rig.rekick({"all"}), 1);
    EXPECT_EQ(rig.out.str(), "MPC Touch controller (09e8:0037) not found on USB\n"
                             "MPC Touch screen (17e9:ff00) not found on USB\n"
                             "MPC Touch controller (09e8:0037) not found on USB\n");
}

TEST(Rekick, HubWalk) {
    {
        // The controller on one of the Mac's own ports: no hub above it.
        ToolRig rig(true, true);
        EXPECT_EQ(rig.rekick({"all"}), 1);
        EXPECT_EQ(rig.out.str(), "no hub above the controller\n");
        EXPECT_THAT(rig.usb.reEnumerations(), IsEmpty());
    }
    // A hub six steps above the controller is found; seven steps is too far.
    for (int between : {5, 6}) {
        ToolRig rig(false);
        UsbRegistryEntry hub{
            0, "IOUSBHostDevice", "Hub", {}, {{"idVendor", 1}, {"idProduct", 2}, {"locationID", 0x02100000}}};
        uint64_t at = rig.usb.addEntry(0, hub);
        for (int i = 0; i < between; ++i)
            at = rig.usb.addEntry(at, {0, "IOService", "step", {}, {}});
        rig.usb.addEntry(at, {0,
                              "IOUSBHostDevice",
                              "MPC Touch",
                              {},
                              {{"idVendor", 2536}, {"idProduct", 55}, {"locationID", 0x02110000}}});
        rig.out.str("");
        EXPECT_EQ(rig.rekick({"all"}), between == 5 ? 0 : 1) << between;
        EXPECT_EQ(rig.out.str(), between == 5 ? "MPC hub @ 0x02100000\n"
                                                "  on this hub: 09e8:0037 @ 0x02110000\n"
                                                "MPC internal hub: re-enumerate (open) → 0x0 ok\n"
                                              : "no hub above the controller\n");
    }
}

TEST(Rekick, ForeignDeviceOnTheHubIsRefused) {
    ToolRig rig;
    rig.mpc.plugForeignDevice();
    EXPECT_EQ(rig.rekick({"all"}), 1);
    EXPECT_EQ(rig.out.str(), "MPC hub @ 0x01100000\n"
                             "  on this hub: 09e8:0037 @ 0x01110000\n"
                             "  on this hub: 09e8:8001 @ 0x01120000\n"
                             "  on this hub: 17e9:ff00 @ 0x01130000\n"
                             "  on this hub: 046d:c52b @ 0x01140000\n"
                             "refusing: that hub has non-MPC devices on it\n");
    EXPECT_THAT(rig.usb.reEnumerations(), IsEmpty());
}

TEST(Rekick, DeviceInterfaceAnswers) {
    {
        ToolRig rig;
        rig.usb.setBehaviour(SimMpcTouch::controllerLocation, {.heldExclusively = true});
        EXPECT_EQ(rig.rekick(), 0);
        EXPECT_EQ(rig.out.str(), "controller 09e8:0037: re-enumerate (seize) → 0x0 ok\n");
        EXPECT_THAT(rig.usb.reEnumerations(),
                    ElementsAre(Reenum{SimMpcTouch::controllerLocation, "MPC Touch", true}));
    }
    {
        ToolRig rig;
        rig.usb.setBehaviour(SimMpcTouch::screenLocation, {.openStatus = IOReturn::notPrivileged});
        EXPECT_EQ(rig.rekick({"screen"}), 1);
        EXPECT_EQ(rig.out.str(), "screen 17e9:ff00: open failed 0xe00002c1\n");
        EXPECT_THAT(rig.usb.reEnumerations(), IsEmpty());
    }
    {
        ToolRig rig;
        rig.usb.setBehaviour(SimMpcTouch::hubLocation, {.reEnumerateStatus = IOReturn::error});
        EXPECT_EQ(rig.rekick({"all"}), 1);
        EXPECT_THAT(rig.out.str(),
                    ::testing::EndsWith("MPC internal hub: re-enumerate (open) → 0xe00002bc\n"));
    }
}

} // namespace
} // namespace tandem::testing
