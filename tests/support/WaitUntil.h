#pragma once
// The one bounded wait of the tests: polls the predicate, letting Qt handle
// its events (queued calls from workers, timers, deferred deletes), until it
// holds or the time is up. Returns whether it held, for ASSERT_TRUE/EXPECT_TRUE;
// a QtTest check macro would only return from the test, which GoogleTest
// counts as passed.
#include <functional>

constexpr int kWaitUntilMs = 15000;

bool WaitUntil(const std::function<bool()>& predicate, int timeoutMs = kWaitUntilMs, int stepMs = 10);
