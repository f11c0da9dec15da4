#include <vector>

#include "harness.hpp"
#include "text/code_points.hpp"
#include "text/utf8.hpp"

using namespace kivo;

TEST(count_chars_matches_decoding) {
  std::string text = "caf\xc3\xa9 \xe6\x97\xa5\xf0\x9f\x98\x80";
  for (int i = 0; i < 6; ++i) text += text;  // long enough for the wide path
  CHECK_EQ(utf8::count_chars(text), CodePoints(text).view().size());
}

TEST(append_round_trips) {
  std::string out;
  for (char32_t cp : {0x41u, 0xE9u, 0x65E5u, 0x1F600u}) utf8::append(out, cp);
  CodePoints decoded(out);
  CHECK_EQ(std::vector<char32_t>(decoded.view().begin(), decoded.view().end()),
           (std::vector<char32_t>{0x41, 0xE9, 0x65E5, 0x1F600}));
}
