#include <array>

#include "algo/phonetic/phonetic.hpp"
#include "base/cancel.hpp"

namespace kivo::phonetic {
namespace {

// The digit of each letter; 0 for the vowels and Y, which separate equal
// digits, and '-' for H and W, which do not.
constexpr std::array<char, 26> kDigits = {
    // A    B    C    D    E    F    G    H    I    J    K    L    M
    '0', '1', '2', '3', '0', '1', '2', '-', '0', '2', '2', '4', '5',
    // N    O    P    Q    R    S    T    U    V    W    X    Y    Z
    '5', '0', '1', '2', '6', '2', '3', '0', '1', '-', '2', '0', '2'};

}  // namespace

void soundex(std::string_view letters, std::string& key) {
  if (letters.empty()) return;
  char code[4] = {letters[0], '0', '0', '0'};
  std::size_t length = 1;
  char last = kDigits[letters[0] - 'A'];
  cancel::Meter meter;
  for (std::size_t i = 1; i < letters.size() && length < 4; ++i) {
    meter.add();
    char digit = kDigits[letters[i] - 'A'];
    if (digit == '-') continue;
    if (digit != '0' && digit != last) code[length++] = digit;
    last = digit;
  }
  key.append(code, 4);
}

}  // namespace kivo::phonetic
