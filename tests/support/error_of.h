// The AutomationError a call throws, for tests that check its number and text.
#pragma once

#include <gtest/gtest.h>

#include "base/automation_error.h"

namespace qmx::test {

// What f throws; a test failure and error 0 when it throws nothing.
template <class F>
AutomationError errorOf(F f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return e;
  }
  ADD_FAILURE() << "no error";
  return AutomationError(0, "");
}

}  // namespace qmx::test
