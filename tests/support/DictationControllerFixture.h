#pragma once

#include "pipeline/DictationController.h"
#include "pipeline/PillState.h"
#include "pipeline/TriggerLogic.h"
#include "support/FakeDictationServices.h"

#include <gtest/gtest.h>

namespace zq::test {

// The controller over a fresh rig of fakes, for the controller's test suites.
class DictationControllerFixture : public ::testing::Test {
protected:
    // Records for `seconds` of virtual time, one buffer every 0.1 s.
    void recordFor(double seconds)
    {
        for (double t = 0; t < seconds - 1e-9; t += 0.1) {
            rig.advance(0.1);
            rig.deliver(1);
        }
    }

    // A live take of `seconds`, finished, its transcription still running.
    void captureTake(double seconds = 1.5)
    {
        ASSERT_TRUE(rig.startLive());
        recordFor(seconds);
        controller.handleTriggerAction(TriggerAction::finish);
        ASSERT_TRUE(controller.pillState().is(PillState::Kind::thinking));
    }

    FakeDictationServices rig;
    DictationController &controller = *rig.controller;
};

} // namespace zq::test
