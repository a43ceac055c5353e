// What every engine test starts from: a fresh folder, a test host as the main window, and the
// job context as a fresh run of the program has it.
#pragma once

#include <gtest/gtest.h>

#include "engine/jobcontext.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "tests/support/tempdir.h"
#include "tests/support/testhost.h"

class EngineTest : public ::testing::Test {
protected:
    EngineTest()
    {
        SetLanguage(Language::English);
        g_nJobState = JOB_IDLE;
        DisarmFileFaults();
        ClearCancelRequest();
    }
    ~EngineTest() override
    {
        DisarmFileFaults();
        ClearCancelRequest();
    }

    TempDir dir;
    TestHost host;
};
