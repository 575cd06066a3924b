#pragma once
// The launcher's face of the format's decoder (format/rungame_decode.h): the
// unpacking of one packed file, apart from any file, blocks from `read` to
// `write`.

#include <cstddef>
#include <functional>

// Size of every block read from the packed file and handed to `write`.
constexpr std::size_t kUnpackBlockSize = 32768;  // RUNGAME_UNPACK_BLOCK

// Fills `buffer` with up to `size` bytes: the count, 0 at the end, negative
// on a read error.
using ReadBlock = std::function<long(unsigned char* buffer, std::size_t size)>;
// Takes `size` bytes; false when they could not all be stored.
using WriteBlock = std::function<bool(const unsigned char* data, std::size_t size)>;

// Decodes a packed stream the way zlib's gzip reader reads it: data that does
// not begin with the gzip magic bytes passes through unchanged, and gzip
// members back to back decode to their concatenation. Unlike that reader,
// every member must reach its own end with a correct check value, and after
// the last one only zero bytes (padding) may follow: a stream cut short,
// corrupt data, a wrong check value, a rejected header or any other trailing
// byte make it fail.
bool DecodePackedStream(const ReadBlock& read, const WriteBlock& write);
