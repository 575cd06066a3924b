#include "sha256.h"

#include <string.h>

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
#define FAST_SHA256_X86 1
#include <immintrin.h>
#if defined(_MSC_VER)
#include <intrin.h>
#define FAST_SHA256_TARGET
#else
#include <cpuid.h>
#if defined(__i386__)
/* 32-bit Windows keeps the stack 4-byte aligned; vectors on it need 16. */
#define FAST_SHA256_TARGET __attribute__((target("sha,sse4.1,ssse3"), force_align_arg_pointer))
#else
#define FAST_SHA256_TARGET __attribute__((target("sha,sse4.1,ssse3")))
#endif
#endif
#endif

#ifdef _WIN32
#include <windows.h>
#endif

static const unsigned long kRound[64] = {
    0x428a2f98UL, 0x71374491UL, 0xb5c0fbcfUL, 0xe9b5dba5UL, 0x3956c25bUL, 0x59f111f1UL, 0x923f82a4UL, 0xab1c5ed5UL,
    0xd807aa98UL, 0x12835b01UL, 0x243185beUL, 0x550c7dc3UL, 0x72be5d74UL, 0x80deb1feUL, 0x9bdc06a7UL, 0xc19bf174UL,
    0xe49b69c1UL, 0xefbe4786UL, 0x0fc19dc6UL, 0x240ca1ccUL, 0x2de92c6fUL, 0x4a7484aaUL, 0x5cb0a9dcUL, 0x76f988daUL,
    0x983e5152UL, 0xa831c66dUL, 0xb00327c8UL, 0xbf597fc7UL, 0xc6e00bf3UL, 0xd5a79147UL, 0x06ca6351UL, 0x14292967UL,
    0x27b70a85UL, 0x2e1b2138UL, 0x4d2c6dfcUL, 0x53380d13UL, 0x650a7354UL, 0x766a0abbUL, 0x81c2c92eUL, 0x92722c85UL,
    0xa2bfe8a1UL, 0xa81a664bUL, 0xc24b8b70UL, 0xc76c51a3UL, 0xd192e819UL, 0xd6990624UL, 0xf40e3585UL, 0x106aa070UL,
    0x19a4c116UL, 0x1e376c08UL, 0x2748774cUL, 0x34b0bcb5UL, 0x391c0cb3UL, 0x4ed8aa4aUL, 0x5b9cca4fUL, 0x682e6ff3UL,
    0x748f82eeUL, 0x78a5636fUL, 0x84c87814UL, 0x8cc70208UL, 0x90befffaUL, 0xa4506cebUL, 0xbef9a3f7UL, 0xc67178f2UL};

#define ROTATE(x, n) ((((x) >> (n)) | ((x) << (32 - (n)))) & 0xffffffffUL)

static void BlocksPortable(unsigned long state[8], const unsigned char* data, size_t blocks) {
  for (; blocks > 0; --blocks, data += 64) {
    unsigned long w[64], v[8], t1, t2;
    int i;
    for (i = 0; i < 16; ++i) {
      w[i] = ((unsigned long)data[4 * i] << 24) | ((unsigned long)data[4 * i + 1] << 16) |
             ((unsigned long)data[4 * i + 2] << 8) | (unsigned long)data[4 * i + 3];
    }
    for (i = 16; i < 64; ++i) {
      const unsigned long s0 = ROTATE(w[i - 15], 7) ^ ROTATE(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const unsigned long s1 = ROTATE(w[i - 2], 17) ^ ROTATE(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = (w[i - 16] + s0 + w[i - 7] + s1) & 0xffffffffUL;
    }
    for (i = 0; i < 8; ++i) v[i] = state[i];
    for (i = 0; i < 64; ++i) {
      t1 = v[7] + (ROTATE(v[4], 6) ^ ROTATE(v[4], 11) ^ ROTATE(v[4], 25)) + ((v[4] & v[5]) ^ (~v[4] & v[6])) +
           kRound[i] + w[i];
      t2 = (ROTATE(v[0], 2) ^ ROTATE(v[0], 13) ^ ROTATE(v[0], 22)) + ((v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]));
      v[7] = v[6];
      v[6] = v[5];
      v[5] = v[4];
      v[4] = (v[3] + t1) & 0xffffffffUL;
      v[3] = v[2];
      v[2] = v[1];
      v[1] = v[0];
      v[0] = (t1 + t2) & 0xffffffffUL;
    }
    for (i = 0; i < 8; ++i) state[i] = (state[i] + v[i]) & 0xffffffffUL;
  }
}

#ifdef FAST_SHA256_X86
/* Four rounds a step: the state as ABEF and CDGH halves, the message
 * schedule four words at a time. */
FAST_SHA256_TARGET static void BlocksWithInstructions(unsigned long state[8], const unsigned char* data,
                                                      size_t blocks) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  unsigned int words[8];
  __m128i abef, cdgh, swapped;
  int i;
  for (i = 0; i < 8; ++i) words[i] = (unsigned int)state[i];
  swapped = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i*)&words[0]), 0xB1); /* CDAB */
  cdgh = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i*)&words[4]), 0x1B);    /* EFGH */
  abef = _mm_alignr_epi8(swapped, cdgh, 8);
  cdgh = _mm_blend_epi16(cdgh, swapped, 0xF0);
  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abefBefore = abef, cdghBefore = cdgh;
    __m128i w[4];
    int step;
    for (step = 0; step < 16; ++step) {
      __m128i message;
      if (step < 4) {
        w[step] = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i*)(data + 16 * step)), byteSwap);
      } else {
        /* w[t-16] + s0(w[t-15]) + w[t-7], then s1(w[t-2]) four at a time */
        const __m128i oldest = _mm_sha256msg1_epu32(w[step & 3], w[(step + 1) & 3]);
        const __m128i middle = _mm_alignr_epi8(w[(step + 3) & 3], w[(step + 2) & 3], 4);
        w[step & 3] = _mm_sha256msg2_epu32(_mm_add_epi32(oldest, middle), w[(step + 3) & 3]);
      }
      message = _mm_add_epi32(w[step & 3], _mm_set_epi32((int)kRound[4 * step + 3], (int)kRound[4 * step + 2],
                                                         (int)kRound[4 * step + 1], (int)kRound[4 * step]));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(message, 0x0E));
    }
    abef = _mm_add_epi32(abef, abefBefore);
    cdgh = _mm_add_epi32(cdgh, cdghBefore);
  }
  swapped = _mm_shuffle_epi32(abef, 0x1B); /* FEBA */
  cdgh = _mm_shuffle_epi32(cdgh, 0xB1);    /* DCHG */
  _mm_storeu_si128((__m128i*)&words[0], _mm_blend_epi16(swapped, cdgh, 0xF0));
  _mm_storeu_si128((__m128i*)&words[4], _mm_alignr_epi8(cdgh, swapped, 8));
  for (i = 0; i < 8; ++i) state[i] = words[i];
}
#endif

int FastSha256HasInstructions(void) {
#ifdef FAST_SHA256_X86
  unsigned int basic[4] = {0, 0, 0, 0}, extended[4] = {0, 0, 0, 0};
#ifdef _WIN32
  /* The system must save the vector registers across switches (not so on
     Windows NT 4 or 95), and says so here; where it cannot say, no. */
  typedef BOOL(WINAPI * FeatureCall)(DWORD);
  FeatureCall present;
  FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsProcessorFeaturePresent");
  memcpy(&present, &found, sizeof present);
  if (!present || !present(PF_XMMI64_INSTRUCTIONS_AVAILABLE)) return 0;
#endif
#if defined(_MSC_VER)
  int regs[4];
  __cpuid(regs, 0);
  if (regs[0] < 7) return 0;
  __cpuid(regs, 1);
  basic[2] = (unsigned int)regs[2];
  __cpuidex(regs, 7, 0);
  extended[1] = (unsigned int)regs[1];
#else
  if (__get_cpuid_max(0, 0) < 7) return 0;
  __cpuid(1, basic[0], basic[1], basic[2], basic[3]);
  __cpuid_count(7, 0, extended[0], extended[1], extended[2], extended[3]);
#endif
  /* SSSE3, SSE4.1 and the SHA extensions */
  return (basic[2] & (1u << 9)) && (basic[2] & (1u << 19)) && (extended[1] & (1u << 29));
#else
  return 0;
#endif
}

static void Blocks(FastSha256* hash, const unsigned char* data, size_t blocks) {
#ifdef FAST_SHA256_X86
  if (hash->useInstructions) {
    BlocksWithInstructions(hash->state, data, blocks);
    return;
  }
#endif
  BlocksPortable(hash->state, data, blocks);
}

void FastSha256Init(FastSha256* hash, int allowInstructions) {
  static const unsigned long kStart[8] = {0x6a09e667UL, 0xbb67ae85UL, 0x3c6ef372UL, 0xa54ff53aUL,
                                          0x510e527fUL, 0x9b05688cUL, 0x1f83d9abUL, 0x5be0cd19UL};
  memcpy(hash->state, kStart, sizeof kStart);
  hash->length = 0;
  hash->pendingBytes = 0;
  hash->useInstructions = allowInstructions && FastSha256HasInstructions();
}

void FastSha256Update(FastSha256* hash, const void* data, size_t size) {
  const unsigned char* bytes = (const unsigned char*)data;
  hash->length += size;
  if (hash->pendingBytes > 0) {
    const size_t take = size < 64 - hash->pendingBytes ? size : 64 - hash->pendingBytes;
    memcpy(hash->pending + hash->pendingBytes, bytes, take);
    hash->pendingBytes += take;
    bytes += take;
    size -= take;
    if (hash->pendingBytes < 64) return;
    Blocks(hash, hash->pending, 1);
    hash->pendingBytes = 0;
  }
  if (size >= 64) {
    Blocks(hash, bytes, size / 64);
    bytes += size - size % 64;
    size %= 64;
  }
  memcpy(hash->pending, bytes, size);
  hash->pendingBytes = size;
}

void FastSha256Final(FastSha256* hash, unsigned char digest[32]) {
  const unsigned long long bits = hash->length * 8;
  unsigned char tail[72];
  const size_t padding = (hash->pendingBytes < 56 ? 56 : 120) - hash->pendingBytes;
  int i;
  memset(tail, 0, sizeof tail);
  tail[0] = 0x80;
  for (i = 0; i < 8; ++i) tail[padding + i] = (unsigned char)(bits >> (56 - 8 * i));
  FastSha256Update(hash, tail, padding + 8);
  for (i = 0; i < 8; ++i) {
    digest[4 * i] = (unsigned char)(hash->state[i] >> 24);
    digest[4 * i + 1] = (unsigned char)(hash->state[i] >> 16);
    digest[4 * i + 2] = (unsigned char)(hash->state[i] >> 8);
    digest[4 * i + 3] = (unsigned char)hash->state[i];
  }
}

void FastSha256Digest(const void* data, size_t size, unsigned char digest[32]) {
  FastSha256 hash;
  FastSha256Init(&hash, 1);
  FastSha256Update(&hash, data, size);
  FastSha256Final(&hash, digest);
}
