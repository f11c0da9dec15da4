#include "batch/lsh_index_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "base/cancel.hpp"
#include "base/error.hpp"
#include "base/hashing.hpp"

namespace kivo::batch {

static_assert(std::endian::native == std::endian::little, "the file holds little-endian values");

namespace {

constexpr char kMagic[8] = {'K', 'I', 'V', 'O', 'L', 'S', 'H', '\x1a'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderBytes = 48;
constexpr std::size_t kChecksumBytes = 8;
// The checksum's fixed key ("kivo-lsh", "index-v1" as little-endian words),
// and the chunks whose hashes it hashes.
constexpr std::uint64_t kChecksumK0 = 0x68736c2d6f76696bULL;
constexpr std::uint64_t kChecksumK1 = 0x31762d7865646e69ULL;
constexpr std::size_t kChunkBytes = std::size_t(1) << 20;

struct Header {
  std::uint64_t bands, rows, length, count;
};

std::uint64_t chunk_hash(const char* data, std::size_t size) {
  return keyed_hash(kChecksumK0, kChecksumK1, std::string_view(data, size));
}

std::uint64_t checksum_of(const std::vector<std::uint64_t>& chunk_hashes) {
  return keyed_hash(kChecksumK0, kChecksumK1,
                    std::string_view(reinterpret_cast<const char*>(chunk_hashes.data()),
                                     chunk_hashes.size() * sizeof(std::uint64_t)));
}

// A file descriptor, closed once.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes, reporting the error a delayed write may surface here.
  int close() { return ::close(std::exchange(fd_, -1)); }

 private:
  int fd_;
};

// Bytes written in chunks, each hashed on its way out.
class ChecksumWriter {
 public:
  ChecksumWriter(int fd, const std::string& path) : fd_(fd), path_(path) {
    buffer_.reserve(kChunkBytes);
  }

  void put(const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
      std::size_t part = std::min(size, kChunkBytes - buffer_.size());
      buffer_.insert(buffer_.end(), bytes, bytes + part);
      bytes += part;
      size -= part;
      if (buffer_.size() == kChunkBytes) flush();
    }
  }
  void put_u64(std::uint64_t value) { put(&value, sizeof value); }

  // Writes what is left, then the checksum.
  void finish() {
    if (!buffer_.empty()) flush();
    std::uint64_t checksum = checksum_of(hashes_);
    write_all(reinterpret_cast<const char*>(&checksum), sizeof checksum);
  }

 private:
  void flush() {
    cancel::poll();
    hashes_.push_back(chunk_hash(buffer_.data(), buffer_.size()));
    write_all(buffer_.data(), buffer_.size());
    buffer_.clear();
  }
  void write_all(const char* data, std::size_t size) {
    while (size > 0) {
      ssize_t written = ::write(fd_, data, size);
      if (written < 0) {
        if (errno == EINTR) continue;
        throw FileError{errno, path_};
      }
      data += written;
      size -= std::size_t(written);
    }
  }

  int fd_;
  const std::string& path_;
  std::vector<char> buffer_;
  std::vector<std::uint64_t> hashes_;
};

// Bytes read in the chunks they were written in, each hashed on its way in.
class ChecksumReader {
 public:
  ChecksumReader(int fd, std::uint64_t end, const std::string& path)
      : fd_(fd), end_(end), path_(path), buffer_(std::min<std::uint64_t>(end, kChunkBytes)) {}

  void get(void* data, std::size_t size) {
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
      if (at_ == filled_) refill();
      std::size_t part = std::min(size, filled_ - at_);
      std::memcpy(bytes, buffer_.data() + at_, part);
      at_ += part;
      bytes += part;
      size -= part;
    }
  }
  std::uint64_t get_u64() {
    std::uint64_t value;
    get(&value, sizeof value);
    return value;
  }

  // Whether the stored checksum is that of everything read, all of it.
  bool checks_out() {
    if (at_ != filled_ || offset_ != end_) throw InternalFault("an index file read in part");
    std::uint64_t stored;
    read_at(reinterpret_cast<char*>(&stored), sizeof stored, end_);
    return stored == checksum_of(hashes_);
  }

 private:
  void refill() {
    cancel::poll();
    std::size_t size = std::size_t(std::min<std::uint64_t>(kChunkBytes, end_ - offset_));
    if (size == 0) throw InternalFault("an index file read past its end");
    read_at(buffer_.data(), size, offset_);
    hashes_.push_back(chunk_hash(buffer_.data(), size));
    offset_ += size;
    at_ = 0;
    filled_ = size;
  }
  void read_at(char* data, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
      ssize_t got = ::pread(fd_, data, size, off_t(offset));
      if (got < 0) {
        if (errno == EINTR) continue;
        throw FileError{errno, path_};
      }
      if (got == 0) throw BadIndexFile{"the file shrank while it was read"};
      data += got;
      offset += std::uint64_t(got);
      size -= std::size_t(got);
    }
  }

  int fd_;
  std::uint64_t end_;  // where the checksum starts
  const std::string& path_;
  std::vector<char> buffer_;
  std::size_t at_ = 0, filled_ = 0;
  std::uint64_t offset_ = 0;
  std::vector<std::uint64_t> hashes_;
};

std::string parent_folder(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string temporary_name(const std::string& path) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::uint64_t bits = mix64(random_table_key() ^ std::uint64_t(::getpid()));
  std::string name = path + ".tmp-";
  for (int i = 0; i < 16; ++i, bits >>= 4) name += kHex[bits & 15];
  return name;
}

void write_index(ChecksumWriter& out, const LshIndex& index) {
  out.put(kMagic, sizeof kMagic);
  std::uint32_t version_and_flags[2] = {kVersion, 0};
  out.put(version_and_flags, sizeof version_and_flags);
  out.put_u64(index.bands());
  out.put_u64(index.rows());
  out.put_u64(index.length());
  out.put_u64(index.size());
  out.put(index.keys().data(), index.size() * sizeof(std::int64_t));
  Signatures signatures = index.signatures();
  for (std::size_t i = 0; i < signatures.count; ++i) {
    out.put(signatures.row(i), signatures.length * sizeof(std::uint64_t));
  }
  out.finish();
}

// a * b + c, or false where it overflows 64 bits.
bool multiply_add(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t& out) {
  return !__builtin_mul_overflow(a, b, &out) && !__builtin_add_overflow(out, c, &out);
}

std::string bytes_text(std::uint64_t count) {
  return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

// The header's own checks, and the file size it implies.
Header read_header(int fd, std::uint64_t size, const std::string& path) {
  char head[kHeaderBytes] = {};
  std::size_t have = std::size_t(std::min<std::uint64_t>(size, kHeaderBytes));
  for (std::size_t got = 0; got < have;) {
    ssize_t n = ::pread(fd, head + got, have - got, off_t(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw FileError{errno, path};
    if (n == 0) throw BadIndexFile{"the file shrank while it was read"};
    got += std::size_t(n);
  }
  if (std::memcmp(head, kMagic, std::min(have, sizeof kMagic)) != 0) {
    throw BadIndexFile{"not an LSHIndex file (no magic number)"};
  }
  if (have < 12) throw BadIndexFile{"truncated (" + bytes_text(size) + ")"};
  std::uint32_t version, flags;
  std::memcpy(&version, head + 8, 4);
  std::memcpy(&flags, head + 12, 4);
  if (version > kVersion) {
    throw BadIndexFile{"format version " + std::to_string(version) +
                       " is newer than this kivo reads (" + std::to_string(kVersion) + ")"};
  }
  if (version != kVersion) throw BadIndexFile{"corrupted (format version 0)"};
  if (size < kHeaderBytes + kChecksumBytes) {
    throw BadIndexFile{"truncated (" + bytes_text(size) + ")"};
  }
  Header h;
  std::memcpy(&h, head + 16, sizeof h);
  std::uint64_t band_values = 0, row_bytes = 0, expected = 0;
  bool fits = flags == 0 && h.bands > 0 && h.rows > 0 &&
              !__builtin_mul_overflow(h.bands, h.rows, &band_values) &&
              band_values <= LshIndex::kMaxBandValues &&
              (h.length == 0 ? h.count == 0 : h.length >= band_values) &&
              h.count <= LshIndex::kMaxDocuments && multiply_add(h.length, 8, 8, row_bytes) &&
              multiply_add(h.count, row_bytes, kHeaderBytes + kChecksumBytes, expected);
  if (!fits) throw BadIndexFile{"corrupted (a header no index has)"};
  if (size < expected) {
    throw BadIndexFile{"truncated (" + bytes_text(size) + " of " + bytes_text(expected) + ")"};
  }
  if (size > expected) {
    throw BadIndexFile{"corrupted (" + bytes_text(size) + " where its header describes " +
                       bytes_text(expected) + ")"};
  }
  return h;
}

}  // namespace

void save_lsh_index(const LshIndex& index, const std::string& path) {
  std::string temporary = temporary_name(path);
  Fd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (file.get() < 0) throw FileError{errno, path};
  try {
    ChecksumWriter out(file.get(), path);
    write_index(out, index);
    if (::fsync(file.get()) != 0 || file.close() != 0) throw FileError{errno, path};
    if (::rename(temporary.c_str(), path.c_str()) != 0) throw FileError{errno, path};
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  // The rename itself lasts once the folder is on disk; a folder that cannot
  // be flushed (some file systems refuse) leaves it to the system.
  std::string folder = parent_folder(path);
  Fd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.get() >= 0 && ::fsync(directory.get()) != 0 && errno != EINVAL) {
    throw FileError{errno, folder};
  }
}

LshIndex load_lsh_index(const std::string& path, const Pool& pool) {
  Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) throw FileError{errno, path};
  struct stat status;
  if (::fstat(file.get(), &status) != 0) throw FileError{errno, path};
  if (S_ISDIR(status.st_mode)) throw FileError{EISDIR, path};
  if (!S_ISREG(status.st_mode)) throw BadIndexFile{"not a regular file"};
  std::uint64_t size = std::uint64_t(status.st_size);
  Header h = read_header(file.get(), size, path);
  ChecksumReader in(file.get(), size - kChecksumBytes, path);
  char skipped[kHeaderBytes];
  in.get(skipped, kHeaderBytes);
  std::vector<std::int64_t> keys(h.count);
  in.get(keys.data(), keys.size() * sizeof(std::int64_t));
  SignatureStore signatures;
  signatures.set_length(h.length);
  signatures.reserve(h.count);
  for (std::size_t i = 0; i < h.count; ++i) {
    in.get(signatures.row(i), h.length * sizeof(std::uint64_t));
  }
  if (!in.checks_out()) throw BadIndexFile{"corrupted (its checksum does not match)"};
  try {
    return LshIndex(h.bands, h.rows, std::move(signatures), std::move(keys), pool);
  } catch (const KeyRefused& refused) {
    throw BadIndexFile{"corrupted (key " + std::to_string(refused.key) + " is held twice)"};
  }
}

}  // namespace kivo::batch
