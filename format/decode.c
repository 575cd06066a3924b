/* See rungame_decode.h. */
#include "rungame_decode.h"

#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#define GZIP_WINDOW_BITS (15 + 16)

typedef struct Decoder {
  RunGameReadBlock read;
  RunGameWriteBlock write;
  void* context;
  unsigned char* input;
  unsigned char* output;
} Decoder;

static int HasGzipMagic(const unsigned char* data, size_t size) {
  return size >= 2 && data[0] == 0x1f && data[1] == 0x8b;
}

/* Reads until `size` bytes arrived or the input ended: the count, or -1. */
static long ReadUpTo(const Decoder* decoder, unsigned char* buffer, size_t size) {
  size_t got = 0;
  while (got < size) {
    const long count = decoder->read(decoder->context, buffer + got, size - got);
    if (count < 0) return -1;
    if (count == 0) break;
    got += (size_t)count;
  }
  return (long)got;
}

/* 1 when `size` bytes at `data` and the rest of the input are all zero. */
static int IsZeroPadding(const Decoder* decoder, const unsigned char* data, size_t size) {
  for (;;) {
    size_t i;
    long count;
    for (i = 0; i < size; ++i) {
      if (data[i] != 0) return 0;
    }
    count = ReadUpTo(decoder, decoder->input, RUNGAME_UNPACK_BLOCK);
    if (count <= 0) return count == 0;
    data = decoder->input;
    size = (size_t)count;
  }
}

static int CopyPlain(const Decoder* decoder, long count) {
  while (count > 0) {
    if (!decoder->write(decoder->context, decoder->input, (size_t)count)) return 0;
    count = ReadUpTo(decoder, decoder->input, RUNGAME_UNPACK_BLOCK);
  }
  return count == 0;
}

/* Inflates one member from its header to its trailer. Only Z_STREAM_END
 * proves the member whole: the input running out first means it was cut. */
static int InflateMember(const Decoder* decoder, z_stream* stream) {
  for (;;) {
    int status;
    size_t produced;
    if (stream->avail_in == 0) {
      const long count = ReadUpTo(decoder, decoder->input, RUNGAME_UNPACK_BLOCK);
      if (count <= 0) return 0;
      stream->next_in = decoder->input;
      stream->avail_in = (uInt)count;
    }
    stream->next_out = decoder->output;
    stream->avail_out = (uInt)RUNGAME_UNPACK_BLOCK;
    status = inflate(stream, Z_NO_FLUSH);
    produced = RUNGAME_UNPACK_BLOCK - stream->avail_out;
    if (produced > 0 && !decoder->write(decoder->context, decoder->output, produced)) return 0;
    if (status == Z_STREAM_END) return 1;
    if (status == Z_BUF_ERROR && stream->avail_in == 0) continue;
    if (status != Z_OK) return 0;
  }
}

static int DecodeMembers(const Decoder* decoder, z_stream* stream) {
  for (;;) {
    if (!InflateMember(decoder, stream)) return 0;
    if (stream->avail_in < 2) {
      const size_t left = stream->avail_in;
      long count;
      if (left > 0) memmove(decoder->input, stream->next_in, left);
      count = ReadUpTo(decoder, decoder->input + left, RUNGAME_UNPACK_BLOCK - left);
      if (count < 0) return 0;
      stream->next_in = decoder->input;
      stream->avail_in = (uInt)(left + (size_t)count);
    }
    if (stream->avail_in == 0) return 1;
    /* After a member comes another member or nothing but zero padding: any
       other byte means the file is not what was packed. */
    if (!HasGzipMagic(stream->next_in, stream->avail_in)) {
      return IsZeroPadding(decoder, stream->next_in, stream->avail_in);
    }
    if (inflateReset(stream) != Z_OK) return 0;
  }
}

int rungame_decode_packed(RunGameReadBlock read, RunGameWriteBlock write, void* context) {
  Decoder decoder;
  z_stream stream;
  long first;
  int ok = 0;
  decoder.read = read;
  decoder.write = write;
  decoder.context = context;
  decoder.input = (unsigned char*)malloc(RUNGAME_UNPACK_BLOCK);
  decoder.output = (unsigned char*)malloc(RUNGAME_UNPACK_BLOCK);
  if (decoder.input == NULL || decoder.output == NULL) goto done;
  first = ReadUpTo(&decoder, decoder.input, RUNGAME_UNPACK_BLOCK);
  if (first < 0) goto done;
  if (!HasGzipMagic(decoder.input, (size_t)first)) {
    ok = CopyPlain(&decoder, first);
    goto done;
  }
  memset(&stream, 0, sizeof stream);
  if (inflateInit2(&stream, GZIP_WINDOW_BITS) != Z_OK) goto done;
  stream.next_in = decoder.input;
  stream.avail_in = (uInt)first;
  ok = DecodeMembers(&decoder, &stream);
  inflateEnd(&stream);
done:
  free(decoder.input);
  free(decoder.output);
  return ok;
}
