// A small test harness for the computing core (no Python involved).
#include <cstdio>

#include "harness.hpp"

int main() {
  int failed = kivo::test::run_all();
  std::printf("%d passed, %d failed\n", kivo::test::passed(), failed);
  return failed == 0 ? 0 : 1;
}
