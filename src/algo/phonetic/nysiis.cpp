#include "algo/phonetic/phonetic.hpp"
#include "base/cancel.hpp"

namespace kivo::phonetic {
namespace {

bool vowel(char c) {
  return c == 'A' || c == 'E' || c == 'I' || c == 'O' || c == 'U';
}

bool starts_with(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

}  // namespace

void nysiis(std::string_view letters, std::string& out) {
  if (letters.empty()) return;
  std::string name(letters);
  if (starts_with(name, "MAC")) {
    name.replace(0, 3, "MCC");
  } else if (starts_with(name, "KN")) {
    name.erase(0, 1);
  } else if (starts_with(name, "K")) {
    name[0] = 'C';
  } else if (starts_with(name, "PH") || starts_with(name, "PF")) {
    name.replace(0, 2, "FF");
  } else if (starts_with(name, "SCH")) {
    name.replace(0, 3, "SSS");
  }
  if (ends_with(name, "EE") || ends_with(name, "IE")) {
    name.replace(name.size() - 2, 2, "Y");
  } else {
    for (std::string_view suffix : {"DT", "RT", "RD", "NT", "ND"}) {
      if (ends_with(name, suffix)) {
        name.replace(name.size() - 2, 2, "D");
        break;
      }
    }
  }

  std::size_t start = out.size();
  out += name[0];
  std::string_view s = name;
  cancel::Meter meter;
  for (std::size_t i = 1; i < s.size(); ++i) {
    meter.add();
    char next = i + 1 < s.size() ? s[i + 1] : '\0';
    std::string_view sound(&s[i], 1);
    char c = s[i];
    if (c == 'E' && next == 'V') {
      sound = "AF";
      ++i;
    } else if (vowel(c)) {
      sound = "A";
    } else if (c == 'Q') {
      sound = "G";
    } else if (c == 'Z') {
      sound = "S";
    } else if (c == 'M') {
      sound = "N";
    } else if (c == 'K') {
      sound = next == 'N' ? "N" : "C";
    } else if (c == 'S' && s.substr(i + 1, 2) == "CH") {
      sound = "SS";
      i += 2;
    } else if (c == 'P' && next == 'H') {
      sound = "F";
      ++i;
    } else if (c == 'H' && (!vowel(s[i - 1]) || !vowel(next))) {
      sound = vowel(s[i - 1]) ? std::string_view("A") : s.substr(i - 1, 1);
    } else if (c == 'W' && vowel(s[i - 1])) {
      sound = s.substr(i - 1, 1);
    }
    if (sound.back() != out.back()) out += sound;
  }

  auto length = [&] { return out.size() - start; };
  if (length() > 1 && out.back() == 'S') out.pop_back();
  if (ends_with(std::string_view(out).substr(start), "AY")) out.replace(out.size() - 2, 2, "Y");
  if (length() > 1 && out.back() == 'A') out.pop_back();
}

}  // namespace kivo::phonetic
