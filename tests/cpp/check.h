// A minimal test harness for the C++ unit tests: TEST registers a case,
// CHECK records a failure without stopping the case, and main() runs all
// cases and prints "N passed, N failed".
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace brv::testing {

struct Case {
  const char* name;
  std::function<void()> body;
};

inline std::vector<Case>& Cases() {
  static std::vector<Case> cases;
  return cases;
}

inline int g_failures = 0;  // constant-initialised: counted from the first case on

struct Register {
  Register(const char* name, std::function<void()> body) { Cases().push_back({name, std::move(body)}); }
};

}  // namespace brv::testing

#define BRV_CAT2(a, b) a##b
#define BRV_CAT(a, b) BRV_CAT2(a, b)
#define TEST(name)                                                                   \
  static void name();                                                                \
  static ::brv::testing::Register BRV_CAT(register_, name)(#name, name);             \
  static void name()

#define CHECK(cond)                                                                  \
  do {                                                                               \
    if (!(cond)) {                                                                   \
      std::fprintf(stderr, "%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #cond);  \
      ++::brv::testing::g_failures;                                                  \
    }                                                                                \
  } while (0)
