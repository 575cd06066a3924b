/* The download helper's HTTP: GET requests below one base URL over one
 * WinHTTP session and connection (keep-alive), the system's proxy settings,
 * a bounded number of redirects, ranged requests, and bounded retries of
 * what may pass (a cut connection, 500, 502, 504, 503 after its
 * Retry-After). Plain C, wide WinHTTP calls, ANSI paths elsewhere. */
#ifndef RUNGAME_HTTP_H
#define RUNGAME_HTTP_H

#include <windows.h>
#include <winhttp.h>

#include <stddef.h>

#define RUNGAME_HTTP_REDIRECTS 5
#define RUNGAME_HTTP_ATTEMPTS 4
/* The longest Retry-After honoured; a server asking more is given up on. */
#define RUNGAME_HTTP_LONGEST_WAIT_MS 10000

typedef struct RunGameHttp {
  HINTERNET session;
  HINTERNET connection;
  int secure;
  wchar_t basePath[1024]; /* the URL's path, ending in '/' */
  const volatile long* cancel;
  unsigned long lastStatus; /* of the last answer, 0 for none */
} RunGameHttp;

enum RunGameHttpResult {
  RUNGAME_HTTP_OK = 0,
  RUNGAME_HTTP_FAILED,    /* no answer, or an HTTP status: `reason` says which */
  RUNGAME_HTTP_TOO_LARGE, /* more bytes than the caller's limit */
  RUNGAME_HTTP_SINK_FAILED,
  RUNGAME_HTTP_CANCELLED
};

/* Opens a session for `url` ("http://host[:port]/path" or https). 0 with
 * the reason in `reason` when it cannot. `cancel` (may be NULL) is watched
 * between reads and during waits. */
int RunGameHttpOpen(RunGameHttp* http, const char* url, const volatile long* cancel, char* reason, size_t reasonSize);
void RunGameHttpClose(RunGameHttp* http);

/* Receives the body's bytes in order; nonzero to go on. `restart` is set
 * before the first bytes when the server sent the whole body rather than
 * the range asked for (the sink starts over). */
typedef int (*RunGameHttpSink)(void* context, const void* bytes, size_t size);
typedef int (*RunGameHttpRestart)(void* context);

/* GETs `path` (relative to the base URL, '/'-separated) from byte `from` on,
 * at most `limit` bytes in all (counting from 0), into `sink`; `restart`
 * (may be NULL when `from` is 0) when the server answers 200 to a range.
 * A cut connection or a server's passing fault is retried up to
 * RUNGAME_HTTP_ATTEMPTS times, resuming from the bytes already sunk.
 * `received` (may be NULL) gets the body's bytes sunk in all. */
int RunGameHttpGet(RunGameHttp* http, const char* path, unsigned long long from, unsigned long long limit,
                   RunGameHttpSink sink, RunGameHttpRestart restart, void* context, char* reason, size_t reasonSize);

/* GETs bytes `from` to `end` (exclusive) of `path`, and no others: an
 * answer with any other bytes (a server that ignores ranges) fails with
 * RUNGAME_HTTP_SINK_FAILED or RUNGAME_HTTP_TOO_LARGE. Retried and resumed
 * as RunGameHttpGet. */
int RunGameHttpGetRange(RunGameHttp* http, const char* path, unsigned long long from, unsigned long long end,
                        RunGameHttpSink sink, void* context, char* reason, size_t reasonSize);

/* A body collected in memory: RunGameHttpAppend and RunGameHttpEmpty are
 * its sink and restart. Free `bytes` when done. */
typedef struct RunGameHttpBody {
  unsigned char* bytes;
  size_t size, capacity;
} RunGameHttpBody;
int RunGameHttpAppend(void* body, const void* bytes, size_t size);
int RunGameHttpEmpty(void* body);

/* The whole body of `path` in memory (freed by the caller with free), at
 * most `limit` bytes. */
int RunGameHttpGetAll(RunGameHttp* http, const char* path, size_t limit, char** body, size_t* size, char* reason,
                      size_t reasonSize);

#endif /* RUNGAME_HTTP_H */
