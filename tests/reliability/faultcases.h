// What every fault test checks after a job that met a fault: the job ended and said so, the
// project file is as it was, and nothing under a final name looks like a result.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "engine/jobcontext.h"
#include "tests/support/tempdir.h"
#include "tests/support/testhost.h"

// The job ran to its end: the wait cursor ended at most once, the last state idle, the closing banner last.
inline void ExpectJobEnded(const TestHost& host, const std::string& closingBanner)
{
    EXPECT_LE(host.Count(HostEvent::Done), 1);
    ASSERT_FALSE(host.States().empty());
    EXPECT_EQ(host.States().back(), JOB_IDLE);
    const std::string log = host.LogText();
    ASSERT_GE(log.size(), closingBanner.size());
    EXPECT_EQ(log.substr(log.size() - closingBanner.size()), closingBanner);
}

inline bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

inline bool AnyBoxSays(const TestHost& host, const std::string& text)
{
    for (const std::string& box : host.BoxTexts())
        if (Contains(box, text))
            return true;
    return false;
}
