// Waiting assertions for GoogleTest bodies that need Qt's event loop to run meanwhile.
// QTest's own QTRY_* macros report to QTest's result log, which GoogleTest never reads: a
// failed wait would pass silently. These wait with QTest::qWaitFor and then assert in
// GoogleTest's terms.
#pragma once

#include <QTest>

#include <gtest/gtest.h>

inline constexpr int kEventuallyMs = 5000;

#define EVENTUALLY_TRUE_WITHIN(condition, ms)                                                      \
    ASSERT_TRUE(QTest::qWaitFor([&] { return static_cast<bool>(condition); }, ms))                 \
        << "still false after " << (ms) << " ms: " #condition

#define EVENTUALLY_TRUE(condition) EVENTUALLY_TRUE_WITHIN(condition, kEventuallyMs)

#define EVENTUALLY_EQ_WITHIN(actual, expected, ms)                                                 \
    do {                                                                                           \
        static_cast<void>(QTest::qWaitFor([&] { return (actual) == (expected); }, ms));            \
        ASSERT_EQ(actual, expected) << "after waiting " << (ms) << " ms";                          \
    } while (false)

#define EVENTUALLY_EQ(actual, expected) EVENTUALLY_EQ_WITHIN(actual, expected, kEventuallyMs)
