// Lawrence Philips' Double Metaphone (C/C++ Users Journal, June 2000), rule
// for rule: a primary key for the common English reading of a name and an
// alternate one for readings from its language of origin. The name is read
// padded with spaces, as the rules look past its end.
#include <initializer_list>

#include "algo/phonetic/phonetic.hpp"
#include "base/cancel.hpp"

namespace kivo::phonetic {
namespace {

class Encoding {
 public:
  explicit Encoding(std::string_view letters)
      : s_(std::string(letters) + "     "), length_(int(letters.size())), last_(length_ - 1) {
    slavo_germanic_ = letters.find_first_of("WK") != std::string_view::npos ||
                      letters.find("CZ") != std::string_view::npos;
  }

  std::pair<std::string, std::string> run();

 private:
  char at(int pos) const { return pos >= 0 && pos < int(s_.size()) ? s_[std::size_t(pos)] : '\0'; }
  bool vowel(int pos) const {
    if (pos < 0 || pos >= length_) return false;
    char c = s_[std::size_t(pos)];
    return c == 'A' || c == 'E' || c == 'I' || c == 'O' || c == 'U' || c == 'Y';
  }
  // Whether one of `options`, all of one length, stands at `start`.
  bool any_at(int start, std::initializer_list<std::string_view> options) const {
    if (start < 0) return false;
    std::string_view rest = std::string_view(s_).substr(std::min(std::size_t(start), s_.size()));
    for (std::string_view option : options) {
      if (rest.substr(0, option.size()) == option) return true;
    }
    return false;
  }
  bool germanic_start() const { return any_at(0, {"VAN ", "VON "}) || any_at(0, {"SCH"}); }

  void add(std::string_view both) {
    primary_ += both;
    secondary_ += both;
  }
  // An empty `main` adds to the alternate key only, an alternate of " " to
  // the primary key only.
  void add(std::string_view main, std::string_view alternate) {
    primary_ += main;
    if (!alternate.empty()) {
      if (alternate[0] != ' ') secondary_ += alternate;
    } else if (!main.empty() && main[0] != ' ') {
      secondary_ += main;
    }
  }

  // Each returns how far to advance.
  int vowel_sound(int i);
  int c(int i);
  int d(int i);
  int g(int i);
  int g_before_h(int i);
  int h(int i);
  int j(int i);
  int l(int i);
  int m(int i);
  int p(int i);
  int r(int i);
  int s(int i);
  int sc(int i);
  int t(int i);
  int w(int i);
  int x(int i);
  int z(int i);
  int plain(int i, std::string_view sound, char doubled) {
    add(sound);
    return at(i + 1) == doubled ? 2 : 1;
  }

  std::string s_;
  int length_;
  int last_;
  bool slavo_germanic_ = false;
  std::string primary_, secondary_;
};

std::pair<std::string, std::string> Encoding::run() {
  if (length_ == 0) return {};
  int i = 0;
  if (any_at(0, {"GN", "KN", "PN", "WR", "PS"})) i = 1;
  if (at(0) == 'X') {  // 'Xavier'
    add("S");
    i = 1;
  }
  cancel::Meter meter;
  while (i < length_) {
    meter.add();
    switch (at(i)) {
      case 'A':
      case 'E':
      case 'I':
      case 'O':
      case 'U':
      case 'Y': i += vowel_sound(i); break;
      case 'B': i += plain(i, "P", 'B'); break;
      case 'C': i += c(i); break;
      case 'D': i += d(i); break;
      case 'F': i += plain(i, "F", 'F'); break;
      case 'G': i += g(i); break;
      case 'H': i += h(i); break;
      case 'J': i += j(i); break;
      case 'K': i += plain(i, "K", 'K'); break;
      case 'L': i += l(i); break;
      case 'M': i += m(i); break;
      case 'N': i += plain(i, "N", 'N'); break;
      case 'P': i += p(i); break;
      case 'Q': i += plain(i, "K", 'Q'); break;
      case 'R': i += r(i); break;
      case 'S': i += s(i); break;
      case 'T': i += t(i); break;
      case 'V': i += plain(i, "F", 'V'); break;
      case 'W': i += w(i); break;
      case 'X': i += x(i); break;
      case 'Z': i += z(i); break;
      default: i += 1;
    }
  }
  return {std::move(primary_), std::move(secondary_)};
}

int Encoding::vowel_sound(int i) {
  if (i == 0) add("A");
  return 1;
}

int Encoding::c(int i) {
  // Germanic, 'bacher', 'macher'
  if (i > 1 && !vowel(i - 2) && any_at(i - 1, {"ACH"}) && at(i + 2) != 'I' &&
      (at(i + 2) != 'E' || any_at(i - 2, {"BACHER", "MACHER"}))) {
    add("K");
    return 2;
  }
  if (i == 0 && any_at(i, {"CAESAR"})) {
    add("S");
    return 2;
  }
  if (any_at(i, {"CHIA"})) {  // 'chianti'
    add("K");
    return 2;
  }
  if (any_at(i, {"CH"})) {
    if (i > 0 && any_at(i, {"CHAE"})) {  // 'michael'
      add("K", "X");
      return 2;
    }
    // Greek roots: 'chemistry', 'chorus'
    if (i == 0 &&
        (any_at(i + 1, {"HARAC", "HARIS"}) || any_at(i + 1, {"HOR", "HYM", "HIA", "HEM"})) &&
        !any_at(0, {"CHORE"})) {
      add("K");
      return 2;
    }
    if (germanic_start() || any_at(i - 2, {"ORCHES", "ARCHIT", "ORCHID"}) ||
        any_at(i + 2, {"T", "S"}) ||
        ((any_at(i - 1, {"A", "O", "U", "E"}) || i == 0) &&
         any_at(i + 2, {"L", "R", "N", "M", "B", "H", "F", "V", "W", " "}))) {
      add("K");
    } else if (i > 0) {
      if (any_at(0, {"MC"})) {  // 'McHugh'
        add("K");
      } else {
        add("X", "K");
      }
    } else {
      add("X");
    }
    return 2;
  }
  if (any_at(i, {"CZ"}) && !any_at(i - 2, {"WICZ"})) {  // 'czerny'
    add("S", "X");
    return 2;
  }
  if (any_at(i + 1, {"CIA"})) {  // 'focaccia'
    add("X");
    return 3;
  }
  if (any_at(i, {"CC"}) && !(i == 1 && at(0) == 'M')) {  // but not 'McClellan'
    if (any_at(i + 2, {"I", "E", "H"}) && !any_at(i + 2, {"HU"})) {
      if ((i == 1 && at(i - 1) == 'A') || any_at(i - 1, {"UCCEE", "UCCES"})) {
        add("KS");  // 'accident', 'succeed'
      } else {
        add("X");  // 'bacci', 'bertucci'
      }
      return 3;
    }
    add("K");
    return 2;
  }
  if (any_at(i, {"CK", "CG", "CQ"})) {
    add("K");
    return 2;
  }
  if (any_at(i, {"CI", "CE", "CY"})) {
    if (any_at(i, {"CIO", "CIE", "CIA"})) {
      add("S", "X");
    } else {
      add("S");
    }
    return 2;
  }
  add("K");
  if (any_at(i + 1, {" C", " Q", " G"})) return 3;  // 'mac caffrey'
  if (any_at(i + 1, {"C", "K", "Q"}) && !any_at(i + 1, {"CE", "CI"})) return 2;
  return 1;
}

int Encoding::d(int i) {
  if (any_at(i, {"DG"})) {
    if (any_at(i + 2, {"I", "E", "Y"})) {  // 'edge'
      add("J");
      return 3;
    }
    add("TK");  // 'edgar'
    return 2;
  }
  add("T");
  return any_at(i, {"DT", "DD"}) ? 2 : 1;
}

int Encoding::g_before_h(int i) {
  if (i > 0 && !vowel(i - 1)) {
    add("K");
    return 2;
  }
  if (i == 0) {  // 'ghislane', 'ghiradelli'
    add(at(i + 2) == 'I' ? "J" : "K");
    return 2;
  }
  // Parker's rule: 'hugh', 'bough', 'broughton'
  if ((i > 1 && any_at(i - 2, {"B", "H", "D"})) || (i > 2 && any_at(i - 3, {"B", "H", "D"})) ||
      (i > 3 && any_at(i - 4, {"B", "H"}))) {
    return 2;
  }
  // 'laugh', 'McLaughlin', 'cough', 'rough', 'tough'
  if (i > 2 && at(i - 1) == 'U' && any_at(i - 3, {"C", "G", "L", "R", "T"})) {
    add("F");
  } else if (i > 0 && at(i - 1) != 'I') {
    add("K");
  }
  return 2;
}

int Encoding::g(int i) {
  if (at(i + 1) == 'H') return g_before_h(i);
  if (at(i + 1) == 'N') {
    if (i == 1 && vowel(0) && !slavo_germanic_) {
      add("KN", "N");
    } else if (!any_at(i + 2, {"EY"}) && at(i + 1) != 'Y' && !slavo_germanic_) {
      add("N", "KN");  // not 'cagney'
    } else {
      add("KN");
    }
    return 2;
  }
  if (any_at(i + 1, {"LI"}) && !slavo_germanic_) {  // 'tagliaro'
    add("KL", "L");
    return 2;
  }
  // -ges-, -gep-, -gel-, -gie- at the beginning
  if (i == 0 && (at(i + 1) == 'Y' || any_at(i + 1, {"ES", "EP", "EB", "EL", "EY", "IB", "IL", "IN",
                                                    "IE", "EI", "ER"}))) {
    add("K", "J");
    return 2;
  }
  // -ger-, -gy-
  if ((any_at(i + 1, {"ER"}) || at(i + 1) == 'Y') && !any_at(0, {"DANGER", "RANGER", "MANGER"}) &&
      !any_at(i - 1, {"E", "I"}) && !any_at(i - 1, {"RGY", "OGY"})) {
    add("K", "J");
    return 2;
  }
  // Italian, 'biaggi'
  if (any_at(i + 1, {"E", "I", "Y"}) || any_at(i - 1, {"AGGI", "OGGI"})) {
    if (germanic_start() || any_at(i + 1, {"ET"})) {
      add("K");
    } else if (any_at(i + 1, {"IER "})) {  // a French ending is always soft
      add("J");
    } else {
      add("J", "K");
    }
    return 2;
  }
  add("K");
  return at(i + 1) == 'G' ? 2 : 1;
}

int Encoding::h(int i) {
  // Kept only first or between vowels, and before a vowel.
  if ((i == 0 || vowel(i - 1)) && vowel(i + 1)) {
    add("H");
    return 2;
  }
  return 1;
}

int Encoding::j(int i) {
  // Spanish: 'jose', 'san jacinto'
  if (any_at(i, {"JOSE"}) || any_at(0, {"SAN "})) {
    if ((i == 0 && at(i + 4) == ' ') || any_at(0, {"SAN "})) {
      add("H");
    } else {
      add("J", "H");
    }
    return 1;
  }
  if (i == 0 && !any_at(i, {"JOSE"})) {
    add("J", "A");  // 'Yankelovich', 'Jankelowicz'
  } else if (vowel(i - 1) && !slavo_germanic_ && (at(i + 1) == 'A' || at(i + 1) == 'O')) {
    add("J", "H");  // Spanish 'bajador'
  } else if (i == last_) {
    add("J", " ");
  } else if (!any_at(i + 1, {"L", "T", "K", "S", "N", "M", "B", "Z"}) &&
             !any_at(i - 1, {"S", "K", "L"})) {
    add("J");
  }
  return at(i + 1) == 'J' ? 2 : 1;
}

int Encoding::l(int i) {
  if (at(i + 1) != 'L') {
    add("L");
    return 1;
  }
  // Spanish: 'cabrillo', 'gallegos'
  if ((i == length_ - 3 && any_at(i - 1, {"ILLO", "ILLA", "ALLE"})) ||
      ((any_at(last_ - 1, {"AS", "OS"}) || any_at(last_, {"A", "O"})) && any_at(i - 1, {"ALLE"}))) {
    add("L", " ");
    return 2;
  }
  add("L");
  return 2;
}

int Encoding::m(int i) {
  add("M");
  // 'dumb', 'thumb'
  if ((any_at(i - 1, {"UMB"}) && (i + 1 == last_ || any_at(i + 2, {"ER"}))) || at(i + 1) == 'M') {
    return 2;
  }
  return 1;
}

int Encoding::p(int i) {
  if (at(i + 1) == 'H') {
    add("F");
    return 2;
  }
  add("P");
  return any_at(i + 1, {"P", "B"}) ? 2 : 1;  // 'campbell', 'raspberry'
}

int Encoding::r(int i) {
  // French 'rogier', but not 'hochmeier'
  if (i == last_ && !slavo_germanic_ && any_at(i - 2, {"IE"}) && !any_at(i - 4, {"ME", "MA"})) {
    add("", "R");
  } else {
    add("R");
  }
  return at(i + 1) == 'R' ? 2 : 1;
}

int Encoding::sc(int i) {
  // Schlesinger's rule
  if (at(i + 2) == 'H') {
    if (any_at(i + 3, {"OO", "ER", "EN", "UY", "ED", "EM"})) {  // Dutch 'school', 'schooner'
      if (any_at(i + 3, {"ER", "EN"})) {
        add("X", "SK");  // 'schermerhorn', 'schenker'
      } else {
        add("SK");
      }
      return 3;
    }
    if (i == 0 && !vowel(3) && at(3) != 'W') {
      add("X", "S");
    } else {
      add("X");
    }
    return 3;
  }
  add(any_at(i + 2, {"I", "E", "Y"}) ? "S" : "SK");
  return 3;
}

int Encoding::s(int i) {
  if (any_at(i - 1, {"ISL", "YSL"})) return 1;  // 'island', 'isle', 'carlisle'
  if (i == 0 && any_at(i, {"SUGAR"})) {
    add("X", "S");
    return 1;
  }
  if (any_at(i, {"SH"})) {
    add(any_at(i + 1, {"HEIM", "HOEK", "HOLM", "HOLZ"}) ? "S" : "X");  // Germanic
    return 2;
  }
  if (any_at(i, {"SIO", "SIA"}) || any_at(i, {"SIAN"})) {  // Italian, Armenian
    if (slavo_germanic_) {
      add("S");
    } else {
      add("S", "X");
    }
    return 3;
  }
  // German and anglicised: 'smith' as 'schmidt', 'snider' as 'schneider';
  // also the Slavic -sz-
  if ((i == 0 && any_at(i + 1, {"M", "N", "L", "W"})) || any_at(i + 1, {"Z"})) {
    add("S", "X");
    return any_at(i + 1, {"Z"}) ? 2 : 1;
  }
  if (any_at(i, {"SC"})) return sc(i);
  // French 'resnais', 'artois'
  if (i == last_ && any_at(i - 2, {"AI", "OI"})) {
    add("", "S");
  } else {
    add("S");
  }
  return any_at(i + 1, {"S", "Z"}) ? 2 : 1;
}

int Encoding::t(int i) {
  if (any_at(i, {"TION"}) || any_at(i, {"TIA", "TCH"})) {
    add("X");
    return 3;
  }
  if (any_at(i, {"TH"}) || any_at(i, {"TTH"})) {
    // 'thomas', 'thames', or Germanic
    if (any_at(i + 2, {"OM", "AM"}) || germanic_start()) {
      add("T");
    } else {
      add("0", "T");
    }
    return 2;
  }
  add("T");
  return any_at(i + 1, {"T", "D"}) ? 2 : 1;
}

int Encoding::w(int i) {
  if (any_at(i, {"WR"})) {
    add("R");
    return 2;
  }
  if (i == 0 && (vowel(i + 1) || any_at(i, {"WH"}))) {
    if (vowel(i + 1)) {
      add("A", "F");  // 'Wasserman' as 'Vasserman'
    } else {
      add("A");  // 'Uomo' as 'Womo'
    }
  }
  // 'Arnow' as 'Arnoff'
  if ((i == last_ && vowel(i - 1)) || any_at(i - 1, {"EWSKI", "EWSKY", "OWSKI", "OWSKY"}) ||
      any_at(0, {"SCH"})) {
    add("", "F");
    return 1;
  }
  if (any_at(i, {"WICZ", "WITZ"})) {  // Polish 'filipowicz'
    add("TS", "FX");
    return 4;
  }
  return 1;
}

int Encoding::x(int i) {
  // French 'breaux'
  if (!(i == last_ && (any_at(i - 3, {"IAU", "EAU"}) || any_at(i - 2, {"AU", "OU"})))) add("KS");
  return any_at(i + 1, {"C", "X"}) ? 2 : 1;
}

int Encoding::z(int i) {
  if (at(i + 1) == 'H') {  // Pinyin 'zhao'
    add("J");
    return 2;
  }
  if (any_at(i + 1, {"ZO", "ZI", "ZA"}) || (slavo_germanic_ && i > 0 && at(i - 1) != 'T')) {
    add("S", "TS");
  } else {
    add("S");
  }
  return at(i + 1) == 'Z' ? 2 : 1;
}

}  // namespace

std::pair<std::string, std::string> double_metaphone(std::string_view letters) {
  return Encoding(letters).run();
}

}  // namespace kivo::phonetic
