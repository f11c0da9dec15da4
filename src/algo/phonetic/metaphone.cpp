#include "algo/phonetic/phonetic.hpp"

namespace kivo::phonetic {
namespace {

bool vowel(char c) {
  return c == 'A' || c == 'E' || c == 'I' || c == 'O' || c == 'U';
}

bool front_vowel(char c) {
  return c == 'E' || c == 'I' || c == 'Y';
}

// The name with its silent or respelled first letters rewritten.
std::string with_initial_rules(std::string_view s) {
  std::string name(s);
  std::string_view two = s.substr(0, 2);
  if (two == "AE" || two == "GN" || two == "KN" || two == "PN" || two == "WR") {
    name.erase(0, 1);
  } else if (two == "WH") {
    name.erase(1, 1);
  } else if (!name.empty() && name[0] == 'X') {
    name[0] = 'S';
  }
  return name;
}

}  // namespace

std::string metaphone(std::string_view letters) {
  std::string name = with_initial_rules(letters);
  std::string_view s = name;
  std::string key;
  auto at = [&](std::size_t i) { return i < s.size() ? s[i] : '\0'; };
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    char prev = i > 0 ? s[i - 1] : '\0';
    char next = at(i + 1);
    if (c == prev && c != 'C') continue;
    switch (c) {
      case 'A': case 'E': case 'I': case 'O': case 'U':
        if (i == 0) key += c;
        break;
      case 'B':
        if (!(prev == 'M' && i + 1 == s.size())) key += 'B';
        break;
      case 'C':
        if (next == 'I' && at(i + 2) == 'A') {
          key += 'X';
        } else if (next == 'H') {
          key += prev == 'S' ? 'K' : 'X';
        } else if (front_vowel(next)) {
          if (prev != 'S') key += 'S';
        } else {
          key += 'K';
        }
        break;
      case 'D':
        key += next == 'G' && front_vowel(at(i + 2)) ? 'J' : 'T';
        break;
      case 'G':
        if (next == 'H' && i + 2 < s.size() && !vowel(at(i + 2))) break;
        if (next == 'N' && (i + 2 == s.size() || s.substr(i + 1) == "NED")) break;
        key += front_vowel(next) && prev != 'G' ? 'J' : 'K';
        break;
      case 'H':
        if (vowel(prev) && !vowel(next)) break;
        if (prev == 'C' || prev == 'S' || prev == 'P' || prev == 'T' || prev == 'G') break;
        key += 'H';
        break;
      case 'K':
        if (prev != 'C') key += 'K';
        break;
      case 'P':
        key += next == 'H' ? 'F' : 'P';
        break;
      case 'Q':
        key += 'K';
        break;
      case 'S':
        if (next == 'H') {
          key += 'X';
        } else if (next == 'I' && (at(i + 2) == 'O' || at(i + 2) == 'A')) {
          key += 'X';
        } else {
          key += 'S';
        }
        break;
      case 'T':
        if (next == 'I' && (at(i + 2) == 'O' || at(i + 2) == 'A')) {
          key += 'X';
        } else if (next == 'H') {
          key += '0';
        } else if (!(next == 'C' && at(i + 2) == 'H')) {
          key += 'T';
        }
        break;
      case 'V':
        key += 'F';
        break;
      case 'W': case 'Y':
        if (vowel(next)) key += c;
        break;
      case 'X':
        key += "KS";
        break;
      case 'Z':
        key += 'S';
        break;
      default:  // F, J, L, M, N, R
        key += c;
    }
  }
  return key;
}

}  // namespace kivo::phonetic
