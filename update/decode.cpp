#include "update/decode.h"

#include <zlib.h>

#include <cstring>
#include <vector>

namespace {

constexpr int kGzipWindowBits = 15 + 16;

bool HasGzipMagic(const unsigned char* data, std::size_t size) {
  return size >= 2 && data[0] == 0x1f && data[1] == 0x8b;
}

// Reads until `size` bytes arrived or the input ended: the count, or -1.
long ReadUpTo(const ReadBlock& read, unsigned char* buffer, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const long count = read(buffer + got, size - got);
    if (count < 0) return -1;
    if (count == 0) break;
    got += static_cast<std::size_t>(count);
  }
  return static_cast<long>(got);
}

// True when `size` bytes at `data` and the rest of the input are all zero.
bool IsZeroPadding(const ReadBlock& read, const unsigned char* data, std::size_t size, unsigned char* buffer) {
  for (;;) {
    for (std::size_t i = 0; i < size; ++i) {
      if (data[i] != 0) return false;
    }
    const long count = ReadUpTo(read, buffer, kUnpackBlockSize);
    if (count <= 0) return count == 0;
    data = buffer;
    size = static_cast<std::size_t>(count);
  }
}

bool CopyPlain(const ReadBlock& read, const WriteBlock& write, unsigned char* buffer, long count) {
  while (count > 0) {
    if (!write(buffer, static_cast<std::size_t>(count))) return false;
    count = ReadUpTo(read, buffer, kUnpackBlockSize);
  }
  return count == 0;
}

// Owns an inflate state for gzip members.
class GzipInflater {
 public:
  GzipInflater() { ready_ = inflateInit2(&stream_, kGzipWindowBits) == Z_OK; }
  ~GzipInflater() {
    if (ready_) inflateEnd(&stream_);
  }
  GzipInflater(const GzipInflater&) = delete;
  GzipInflater& operator=(const GzipInflater&) = delete;
  bool Ready() const { return ready_; }
  z_stream& Stream() { return stream_; }

 private:
  z_stream stream_ = {};
  bool ready_ = false;
};

// Inflates one member from its header to its trailer. Only Z_STREAM_END
// proves the member whole: the input running out first means it was cut.
bool InflateMember(z_stream& stream, const ReadBlock& read, const WriteBlock& write, unsigned char* input,
                   unsigned char* output) {
  for (;;) {
    if (stream.avail_in == 0) {
      const long count = ReadUpTo(read, input, kUnpackBlockSize);
      if (count <= 0) return false;
      stream.next_in = input;
      stream.avail_in = static_cast<uInt>(count);
    }
    stream.next_out = output;
    stream.avail_out = static_cast<uInt>(kUnpackBlockSize);
    const int status = inflate(&stream, Z_NO_FLUSH);
    const std::size_t produced = kUnpackBlockSize - stream.avail_out;
    if (produced > 0 && !write(output, produced)) return false;
    if (status == Z_STREAM_END) return true;
    if (status == Z_BUF_ERROR && stream.avail_in == 0) continue;
    if (status != Z_OK) return false;
  }
}

}  // namespace

bool DecodePackedStream(const ReadBlock& read, const WriteBlock& write) {
  std::vector<unsigned char> input(kUnpackBlockSize);
  std::vector<unsigned char> output(kUnpackBlockSize);
  const long first = ReadUpTo(read, input.data(), kUnpackBlockSize);
  if (first < 0) return false;
  if (!HasGzipMagic(input.data(), static_cast<std::size_t>(first))) {
    return CopyPlain(read, write, input.data(), first);
  }

  GzipInflater inflater;
  if (!inflater.Ready()) return false;
  z_stream& stream = inflater.Stream();
  stream.next_in = input.data();
  stream.avail_in = static_cast<uInt>(first);
  for (;;) {
    if (!InflateMember(stream, read, write, input.data(), output.data())) return false;
    if (stream.avail_in < 2) {
      const std::size_t left = stream.avail_in;
      if (left > 0) std::memmove(input.data(), stream.next_in, left);
      const long count = ReadUpTo(read, input.data() + left, kUnpackBlockSize - left);
      if (count < 0) return false;
      stream.next_in = input.data();
      stream.avail_in = static_cast<uInt>(left + static_cast<std::size_t>(count));
    }
    if (stream.avail_in == 0) return true;
    // After a member comes another member or nothing but zero padding: any
    // other byte means the file is not what was packed.
    if (!HasGzipMagic(stream.next_in, stream.avail_in)) {
      return IsZeroPadding(read, stream.next_in, stream.avail_in, input.data());
    }
    if (inflateReset(&stream) != Z_OK) return false;
  }
}
