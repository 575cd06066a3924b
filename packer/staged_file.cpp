#include "packer/staged_file.h"

#include <zlib.h>

#include <vector>

#include "packer/files.h"

namespace packer {

namespace {

constexpr int kGzipWindowBits = 15 + 16;
constexpr std::size_t kBlock = 1 << 16;

// Owns a deflate state producing one gzip member.
class GzipDeflater {
 public:
  GzipDeflater() {
    ready_ = deflateInit2(&stream_, Z_BEST_COMPRESSION, Z_DEFLATED, kGzipWindowBits, 9, Z_DEFAULT_STRATEGY) == Z_OK;
    // The same header on every build machine: no time, no name, system "unknown".
    header_.os = 255;
    if (ready_) ready_ = deflateSetHeader(&stream_, &header_) == Z_OK;
  }
  ~GzipDeflater() {
    if (ready_) deflateEnd(&stream_);
  }
  GzipDeflater(const GzipDeflater&) = delete;
  GzipDeflater& operator=(const GzipDeflater&) = delete;
  bool Ready() const { return ready_; }
  z_stream& Stream() { return stream_; }

 private:
  z_stream stream_ = {};
  gz_header header_ = {};
  bool ready_ = false;
};

// Writes to a file while hashing and counting what was written.
class HashingWriter {
 public:
  explicit HashingWriter(HostFile file) : file_(std::move(file)) {}
  bool Write(const void* data, std::size_t size) {
    hash_.Add(data, size);
    digest_.size += size;
    return std::fwrite(data, 1, size, file_.Get()) == size;
  }
  std::optional<FileDigest> Finish() {
    if (!file_.Close()) return std::nullopt;
    digest_.sha256 = ToHex(hash_.Finish());
    return digest_;
  }

 private:
  HostFile file_;
  Sha256 hash_;
  FileDigest digest_;
};

}  // namespace

std::optional<FileDigest> WriteGzipped(const std::string& source, const std::string& target) {
  HostFile input = OpenHostFile(source, "rb");
  HostFile output = OpenHostFile(target, "wb");
  GzipDeflater deflater;
  if (!input || !output || !deflater.Ready()) return std::nullopt;
  HashingWriter writer(std::move(output));
  z_stream& stream = deflater.Stream();
  std::vector<unsigned char> in(kBlock);
  std::vector<unsigned char> out(kBlock);
  int flush = Z_NO_FLUSH;
  while (flush != Z_FINISH) {
    const std::size_t got = std::fread(in.data(), 1, in.size(), input.Get());
    if (std::ferror(input.Get())) return std::nullopt;
    flush = got < in.size() ? Z_FINISH : Z_NO_FLUSH;
    stream.next_in = in.data();
    stream.avail_in = static_cast<uInt>(got);
    do {
      stream.next_out = out.data();
      stream.avail_out = static_cast<uInt>(out.size());
      if (deflate(&stream, flush) == Z_STREAM_ERROR) return std::nullopt;
      if (!writer.Write(out.data(), out.size() - stream.avail_out)) return std::nullopt;
    } while (stream.avail_out == 0);
  }
  return writer.Finish();
}

std::optional<FileDigest> WritePlain(const std::string& source, const std::string& target) {
  HostFile input = OpenHostFile(source, "rb");
  HostFile output = OpenHostFile(target, "wb");
  if (!input || !output) return std::nullopt;
  HashingWriter writer(std::move(output));
  std::vector<char> buffer(kBlock);
  for (;;) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), input.Get());
    if (std::ferror(input.Get()) || !writer.Write(buffer.data(), got)) return std::nullopt;
    if (got < buffer.size()) break;
  }
  return writer.Finish();
}

std::string GzipBytes(const std::string& data) {
  GzipDeflater deflater;
  if (!deflater.Ready()) return std::string();
  z_stream& stream = deflater.Stream();
  std::string packed(deflateBound(&stream, static_cast<uLong>(data.size())) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(&packed[0]);
  stream.avail_out = static_cast<uInt>(packed.size());
  if (deflate(&stream, Z_FINISH) != Z_STREAM_END) return std::string();
  packed.resize(stream.total_out);
  return packed;
}

}  // namespace packer
