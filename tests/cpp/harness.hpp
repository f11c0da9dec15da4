// Minimal test registry: TEST(name) { CHECK(cond); CHECK_EQ(a, b); }
#pragma once

#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace kivo::test {

struct Case {
  const char* name;
  std::function<void(bool&)> body;
};

inline std::vector<Case>& registry() {
  static std::vector<Case> cases;
  return cases;
}
inline int& passed_count() {
  static int n = 0;
  return n;
}
inline int passed() { return passed_count(); }

inline int run_all() {
  int failed = 0;
  for (const Case& c : registry()) {
    bool ok = true;
    c.body(ok);
    if (ok) {
      ++passed_count();
    } else {
      ++failed;
      std::cerr << "FAILED: " << c.name << "\n";
    }
  }
  return failed;
}

struct Register {
  Register(const char* name, std::function<void(bool&)> body) {
    registry().push_back({name, std::move(body)});
  }
};

}  // namespace kivo::test

#define TEST(name)                                                          \
  static void name(bool& kivo_ok);                                          \
  static ::kivo::test::Register name##_registered(#name, name);             \
  static void name(bool& kivo_ok)

#define CHECK(cond)                                                              \
  do {                                                                           \
    if (!(cond)) {                                                               \
      std::cerr << __FILE__ << ":" << __LINE__ << ": CHECK(" #cond ") failed\n"; \
      kivo_ok = false;                                                           \
    }                                                                            \
  } while (0)

#define CHECK_EQ(a, b)                                                                  \
  do {                                                                                  \
    auto kivo_a = (a);                                                                  \
    auto kivo_b = (b);                                                                  \
    if (!(kivo_a == kivo_b)) {                                                          \
      std::cerr << __FILE__ << ":" << __LINE__ << ": CHECK_EQ(" #a ", " #b ") failed\n"; \
      kivo_ok = false;                                                                  \
    }                                                                                   \
  } while (0)
