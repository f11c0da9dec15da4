#include <string>
#include <vector>

#include "algo/term_table.hpp"
#include "harness.hpp"

using namespace kivo;

TEST(term_table_fills_to_capacity) {
  std::vector<std::string> terms;
  for (int i = 0; i < 5000; ++i) terms.push_back(std::to_string(i));
  TermTable table(terms.size());
  for (const std::string& t : terms) table.intern(t);
  bool all_found = true;
  for (std::size_t i = 0; i < terms.size(); ++i) all_found &= table.find(terms[i]) == i;
  CHECK(all_found);
  bool full = false;
  try {
    table.intern("new");
  } catch (const std::logic_error&) {
    full = true;
  }
  CHECK(full);
  CHECK_EQ(table.intern("4999"), std::size_t(4999));
}

TEST(empty_term_table_finds_nothing) {
  TermTable table(0);
  CHECK_EQ(table.find(""), TermTable::npos);
}
