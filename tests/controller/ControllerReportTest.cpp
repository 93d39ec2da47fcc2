#include "ControllerSetup.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>

namespace {

std::string report(const CConCommonH& common) {
    CaptureStdout capture;
    EXPECT_TRUE(common.printInfo());
    return capture.text();
}

const std::string kDetail = "HOST: INFO:                       :";

}  // namespace

TEST(ControllerReport, OneWandControllerWithItsDefaults) {
    WandControllers w;
    EXPECT_EQ(report(w.common),
              "HOST: INFO: CONTROLLER ORDER      : <Real con> -> <Output con>\n" + kDetail + " 1->1\n" +
                  "HOST: INFO: VALUATOR ORDER(SCALE) : <Real val> -> <Output val>\n" + kDetail +
                  " 1->1(1X) 2->2(1X)\n" + "HOST: INFO: BUTTON ORDER          : <Real but> -> <Output but>\n" +
                  kDetail + " 1->1 2->2 3->3 4->4 5->5 6->6 7->7 8->8 9->9 10->10 11->11\n");
}

TEST(ControllerReport, OneControllerEmulationSaysAsAndShowsStaleOrderElements) {
    WandControllers w;
    w.common.setControllerDefaults(1, 1, 4, 0);
    w.common.setControllerDefaults(1, 1, 2, 0);  // elements 3 and 4 stay set
    ASSERT_TRUE(w.parse({"valuatorscale 1 0 2", "emulatetracker 1 [0.5,0,-2,90,0,1e-05] 0 0 2 0 0 1"}));
    w.common.assignTrackerNumbers(1);
    EXPECT_EQ(report(w.common),
              "HOST: INFO: CONTROLLER ORDER      : <Real con> -> <Output con>\n" + kDetail + " 1->1\n" +
                  "HOST: INFO: VALUATOR ORDER(SCALE) : <Real val> -> <Output val>\n" + kDetail +
                  " 1->1(1X) 2->2() 3->3(1X) 4->4(1X)\n" + "HOST: INFO: TRACKER EMULATION     : As tracker[1]\n" +
                  kDetail + " Init Values: X=0.5 Y=0 Z=-2\n" + kDetail + " Init Values: Azim=90 Elev=0 Roll=1e-05\n" +
                  kDetail + " Val Assign : 2->Z 1->Roll\n");
}

TEST(ControllerReport, SeveralControllersCarryTheirNumbersAndOddPolynomials) {
    WandControllers w(3);
    w.common.inputConnector = false;
    w.common.outputControllerCount = 3;
    w.common.outputOffset = 4;
    w.common.setControllerDefaults(2, 0, 2, 2);
    w.common.setControllerDefaults(3, 0, 4, 1);
    ASSERT_TRUE(w.parse({"controllerorder 3 1", "valuatororder 1 0", "buttonorder 1",
                         "valuatorscale 3 [0,0,2.5,-1] 1", "valuatorscale 3 [1,0,0,0.5] 2",
                         "valuatorscale 3 [1,-1,0,2] 3", "valuatorscale 3 [-1,1,1,-0.25] 4",
                         "emulatetracker 3 x 1 2 3 4 0 0 1"}));
    w.common.assignTrackerNumbers(2);
    EXPECT_EQ(report(w.common),
              "HOST: INFO: CONTROLLER ORDER      : <Real con> -> <Output con>\n" + kDetail + " 1->6 3->5\n" +
                  "HOST: INFO: VALUATOR ORDER(SCALE) : <Real val> -> <Output val>\n" + kDetail +
                  " 3: 1->1(2.5X-1) 2->2(1X^3+0.5) 3->3(1X^3-1X^22) 4->4(-1X^3+1X^21X-0.25)\n" +
                  "HOST: INFO: BUTTON ORDER          : <Real but> -> <Output but>\n" + kDetail + " 3: 1->1\n" +
                  "HOST: INFO: TRACKER EMULATION     : 3->tracker[2]\n" + kDetail + " 3: Init Values: X=0 Y=0 Z=0\n" +
                  kDetail + " 3: Init Values: Azim=0 Elev=0 Roll=0\n" + kDetail +
                  " 3: Val Assign : 1->X 2->Y 3->Z 4->Azim\n" + kDetail + " 3: Reset But  : 1\n");
}

TEST(ControllerReport, RealsFollowTheStreamAsOthersLeftIt) {
    WandControllers w;
    ASSERT_TRUE(w.parse({"valuatorscale 1 0.5 1"}));
    const std::ios_base::fmtflags flags = std::cout.flags();
    const std::streamsize precision = std::cout.precision();
    std::cout << std::fixed;
    std::cout.precision(2);
    const std::string text = report(w.common);
    std::cout.flags(flags);
    std::cout.precision(precision);
    EXPECT_NE(text.find(" 1->1(0.50X) 2->2(1.00X)\n"), std::string::npos);
}
