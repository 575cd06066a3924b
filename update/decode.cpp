#include "update/decode.h"

#include "format/rungame_decode.h"

namespace {

struct Blocks {
  const ReadBlock& read;
  const WriteBlock& write;
};

long ReadThrough(void* context, unsigned char* buffer, std::size_t size) {
  return static_cast<Blocks*>(context)->read(buffer, size);
}

int WriteThrough(void* context, const unsigned char* data, std::size_t size) {
  return static_cast<Blocks*>(context)->write(data, size) ? 1 : 0;
}

}  // namespace

bool DecodePackedStream(const ReadBlock& read, const WriteBlock& write) {
  Blocks blocks{read, write};
  return rungame_decode_packed(ReadThrough, WriteThrough, &blocks) != 0;
}
