#include <string>
#include <vector>

#include "algo/term_table.hpp"
#include "harness.hpp"

using namespace kivo;

TEST(term_table_keeps_first_appearance_order) {
  std::vector<std::string> terms = {"b", "a", "b", "", "c", "a"};
  TermTable table(terms.size());
  for (const std::string& t : terms) ++table[table.intern(t)].count[0];
  CHECK_EQ(table.size(), std::size_t(4));
  CHECK(table[0].term == "b" && table[0].count[0] == 2);
  CHECK(table[1].term == "a" && table[1].count[0] == 2);
  CHECK(table[2].term == "" && table[2].count[0] == 1);
  CHECK(table[3].term == "c" && table[3].count[0] == 1);
  CHECK_EQ(table.find("c"), std::size_t(3));
  CHECK_EQ(table.find("d"), TermTable::npos);
  CHECK_EQ(table.find("ab"), TermTable::npos);
}

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
