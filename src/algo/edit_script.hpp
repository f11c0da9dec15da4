// Where the edits of a Levenshtein alignment are: a minimal alignment of a
// into b, as single edit operations or as difflib-style opcodes. Ties are
// broken one way: common leading and trailing characters are kept equal;
// between them the alignment is traced back from the end, taking a match
// when the characters are equal, else a substitution, else a deletion, else
// an insertion, whichever keeps the alignment minimal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "text/char_span.hpp"

namespace kivo {

enum class EditTag : std::uint8_t { Equal, Replace, Delete, Insert };

// One edit: replace a[a_pos] by b[b_pos], delete a[a_pos] (b_pos is where b
// stands), or insert b[b_pos] before a[a_pos].
struct EditOp {
  EditTag tag;
  std::size_t a_pos;
  std::size_t b_pos;
};

// a[a_start:a_end] becomes b[b_start:b_end]; consecutive edits of one kind
// are merged, and the opcodes cover both texts end to end.
struct Opcode {
  EditTag tag;
  std::size_t a_start, a_end, b_start, b_end;
};

std::vector<EditOp> levenshtein_editops(const CharSpan& a, const CharSpan& b);
std::vector<Opcode> levenshtein_opcodes(const CharSpan& a, const CharSpan& b);

}  // namespace kivo
