// An LshIndex on disk (the layout is docs/lsh_index_format.md): a header,
// the keys, the signatures, and a checksum of all of it. The band tables are
// not stored: load() files the documents again, so that no file, however
// made, can leave an index inconsistent.
#pragma once

#include <string>

#include "batch/executor.hpp"
#include "batch/lsh_index.hpp"

namespace kivo::batch {

// A call of the system that failed: its errno, and the path it was about.
struct FileError {
  int error;
  std::string path;
};

// A file that is no saved index this version reads, and why.
struct BadIndexFile {
  std::string reason;
};

// Writes a temporary file beside `path`, flushes it to disk and renames it
// over `path`, then flushes the folder: a crash at any moment leaves the old
// file or the new one. Throws FileError (the temporary file removed) or
// Cancelled (likewise).
void save_lsh_index(const LshIndex& index, const std::string& path);

// Reads and checks the whole file before any of it is believed; throws
// BadIndexFile, FileError or Cancelled. Memory is never sized by the header
// beyond what the file itself holds.
LshIndex load_lsh_index(const std::string& path, const Pool& pool);

}  // namespace kivo::batch
