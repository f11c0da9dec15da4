// How the edit and LCS lane kernels walk the texts of a call that has more
// than one. Included by them, inside each instruction set's namespace and
// target region: once per instruction set's source file.
#pragma once

// Calls two(text, text2, out, out2, stride) over the call's list of texts,
// two at a time (an odd last one with an empty second text and no out2), or
// once for its text and second text. False when the call has one text.
template <class Call, class Two>
bool run_in_twos(const Call& c, Two&& two) {
  if (c.texts != nullptr) {
    for (std::size_t t = 0; t < c.text_count; t += 2) {
      bool pair = t + 1 < c.text_count;
      two(c.texts[t], pair ? c.texts[t + 1] : std::u32string_view(), c.out + t,
          pair ? c.out + t + 1 : nullptr, c.stride);
    }
    return true;
  }
  if (c.out2 != nullptr) {
    two(std::u32string_view(c.text, c.n), std::u32string_view(c.text2, c.n2), c.out, c.out2,
        std::size_t(1));
    return true;
  }
  return false;
}
