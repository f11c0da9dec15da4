// How the edit and LCS lane kernels walk the texts of a call that has more
// than one. Included by them, inside each instruction set's namespace and
// target region: once per instruction set's source file.
#pragma once

// Calls two(text, text2, out, out2, stride) over the call's list of texts,
// two at a time (an odd last one with an empty second text and no out2), or
// once for its text and second text. False when the call has one text.
template <class Call, class Two>
bool run_in_twos(const Call& c, Two&& two) {
  const MoreTexts& more = c.more;
  if (more.texts != nullptr) {
    for (std::size_t t = 0; t < more.text_count; t += 2) {
      bool pair = t + 1 < more.text_count;
      two(more.texts[t], pair ? more.texts[t + 1] : std::u32string_view(), c.out + t,
          pair ? c.out + t + 1 : nullptr, more.stride);
    }
    return true;
  }
  if (more.out2 != nullptr) {
    two(std::u32string_view(c.text, c.n), std::u32string_view(more.text2, more.n2), c.out,
        more.out2, std::size_t(1));
    return true;
  }
  return false;
}
