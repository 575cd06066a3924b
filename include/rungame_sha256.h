/* SHA-256 of a file, for the game-side helper's check of a download against
 * its manifest. One function, in a file of its own, so that its
 * implementation can be swapped without touching the helper; this one is
 * libsodium's (link libsodium, as for the signed-update checks). */
#ifndef RUNGAME_SHA256_H
#define RUNGAME_SHA256_H

#ifdef __cplusplus
extern "C" {
#endif

/* Reads the file at `path` (an ANSI path) to its end: its size in `size` and
 * its SHA-256 in `digest`. 1 on success, 0 when it cannot be read whole. */
int rungame_sha256_file(const char* path, unsigned long long* size, unsigned char digest[32]);

#ifdef __cplusplus
}
#endif

#endif /* RUNGAME_SHA256_H */
