/* See rungame_http.h. */
#include "rungame_http.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif

static void Say(char* reason, size_t reasonSize, const char* format, const char* text, unsigned long number) {
  if (reason == NULL || reasonSize == 0) return;
  _snprintf(reason, reasonSize, format, text, number);
  reason[reasonSize - 1] = '\0';
}

static int Cancelled(const RunGameHttp* http) { return http->cancel != NULL && *http->cancel != 0; }

/* Sleeps `ms`, waking to look at the cancel flag. 0 when cancelled. */
static int Wait(const RunGameHttp* http, DWORD ms) {
  while (ms > 0) {
    DWORD slice = ms < 100 ? ms : 100;
    if (Cancelled(http)) return 0;
    Sleep(slice);
    ms -= slice;
  }
  return !Cancelled(http);
}

int RunGameHttpOpen(RunGameHttp* http, const char* url, const volatile long* cancel, char* reason, size_t reasonSize) {
  wchar_t wideUrl[2048];
  wchar_t host[256];
  URL_COMPONENTS parts;
  size_t pathLength;
  memset(http, 0, sizeof *http);
  http->cancel = cancel;
  if (url == NULL || MultiByteToWideChar(CP_ACP, 0, url, -1, wideUrl, 2048) == 0) {
    Say(reason, reasonSize, "the feed's URL is too long or unreadable%s", "", 0);
    return 0;
  }
  memset(&parts, 0, sizeof parts);
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = (DWORD)-1;
  parts.dwUrlPathLength = (DWORD)-1;
  if (!WinHttpCrackUrl(wideUrl, 0, 0, &parts) || parts.dwHostNameLength == 0 || parts.dwHostNameLength >= 256 ||
      (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
    Say(reason, reasonSize, "the feed's URL is no http or https URL: %s", url, 0);
    return 0;
  }
  memcpy(host, parts.lpszHostName, parts.dwHostNameLength * sizeof(wchar_t));
  host[parts.dwHostNameLength] = L'\0';
  pathLength = parts.dwUrlPathLength;
  if (pathLength + 2 > sizeof http->basePath / sizeof(wchar_t)) {
    Say(reason, reasonSize, "the feed's URL is too long%s", "", 0);
    return 0;
  }
  if (pathLength > 0) memcpy(http->basePath, parts.lpszUrlPath, pathLength * sizeof(wchar_t));
  if (pathLength == 0 || http->basePath[pathLength - 1] != L'/') http->basePath[pathLength++] = L'/';
  http->basePath[pathLength] = L'\0';
  http->secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

  /* The system's proxy settings: Windows 8.1 and later resolve them
     (automatic configuration included) themselves; older systems refuse
     that access type and take WinHTTP's own configured proxy. */
  http->session = WinHttpOpen(L"rungame-update/1", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0);
  if (http->session == NULL) {
    http->session = WinHttpOpen(L"rungame-update/1", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, 0);
  }
  if (http->session == NULL) {
    Say(reason, reasonSize, "WinHTTP cannot start%s (error %lu)", "", GetLastError());
    return 0;
  }
  /* A server that stops sending for 30 s counts as a cut connection. */
  if (!WinHttpSetTimeouts(http->session, 10000, 10000, 30000, 30000)) {
    /* the defaults (no resolve limit, 60 s, 30 s, 30 s) are as safe */
  }
  http->connection = WinHttpConnect(http->session, host, parts.nPort, 0);
  if (http->connection == NULL) {
    Say(reason, reasonSize, "cannot connect to %s (error %lu)", url, GetLastError());
    RunGameHttpClose(http);
    return 0;
  }
  return 1;
}

void RunGameHttpClose(RunGameHttp* http) {
  if (http->connection != NULL) WinHttpCloseHandle(http->connection);
  if (http->session != NULL) WinHttpCloseHandle(http->session);
  http->connection = NULL;
  http->session = NULL;
}

/* What one attempt came to. */
enum Attempt { ATTEMPT_DONE, ATTEMPT_RETRY, ATTEMPT_FAILED };

static DWORD QueryNumber(HINTERNET request, DWORD what, DWORD missing) {
  DWORD value = 0, size = sizeof value;
  if (!WinHttpQueryHeaders(request, what | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX, &value, &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return missing;
  }
  return value;
}

/* The Content-Range's first byte, or -1 without one. */
static long long RangeStart(HINTERNET request) {
  wchar_t text[128];
  DWORD size = sizeof text;
  long long start = 0;
  const wchar_t* c = text;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_RANGE, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                           WINHTTP_NO_HEADER_INDEX) ||
      wcsncmp(text, L"bytes ", 6) != 0) {
    return -1;
  }
  for (c = text + 6; *c >= L'0' && *c <= L'9' && start < (1LL << 50); ++c) start = start * 10 + (*c - L'0');
  return *c == L'-' && c > text + 6 ? start : -1;
}

typedef struct Transfer {
  const char* path;
  unsigned long long sunk; /* body bytes handed to the sink, from byte 0 */
  unsigned long long limit;
  unsigned long long end; /* of a range asked for, 0 for the rest of the file */
  RunGameHttpSink sink;
  RunGameHttpRestart restart;
  void* context;
  int cuts;
  DWORD wait; /* before the next attempt */
  int result;
} Transfer;

static int Restart(Transfer* transfer) {
  transfer->sunk = 0;
  return transfer->restart == NULL || transfer->restart(transfer->context);
}

/* The body of an answered request into the sink. */
static int ReadBody(RunGameHttp* http, HINTERNET request, Transfer* transfer, unsigned long long expected,
                    char* reason, size_t reasonSize) {
  static const size_t blockSize = 64 * 1024;
  char* block = (char*)malloc(blockSize);
  unsigned long long got = 0;
  int flowing = 0;
  int outcome = ATTEMPT_DONE;
  if (block == NULL) {
    transfer->result = RUNGAME_HTTP_SINK_FAILED;
    return ATTEMPT_FAILED;
  }
  for (;;) {
    DWORD read = 0, available = 0;
    /* The announced length read: done, without asking for more. */
    if (expected != (unsigned long long)-1 && got == expected) break;
    if (Cancelled(http)) {
      transfer->result = RUNGAME_HTTP_CANCELLED;
      outcome = ATTEMPT_FAILED;
      break;
    }
    /* While whole blocks come, a whole block is read; after a short read
       only what has arrived, since a read of a whole block could wait for
       it, deaf to the cancel flag, on a slow server. Asking what has
       arrived costs as much as a read under Wine. */
    available = (DWORD)blockSize;
    if ((!flowing && !WinHttpQueryDataAvailable(request, &available)) ||
        (available > 0 && !WinHttpReadData(request, block, available < blockSize ? available : (DWORD)blockSize, &read))) {
      outcome = ATTEMPT_RETRY;
      break;
    }
    if (read == 0) {
      /* An end before the announced length is a cut connection too. */
      if (expected != (unsigned long long)-1 && got < expected) outcome = ATTEMPT_RETRY;
      break;
    }
    if (transfer->sunk + read > transfer->limit) {
      Say(reason, reasonSize, "%s is larger than it can be", transfer->path, 0);
      transfer->result = RUNGAME_HTTP_TOO_LARGE;
      outcome = ATTEMPT_FAILED;
      break;
    }
    if (!transfer->sink(transfer->context, block, read)) {
      transfer->result = RUNGAME_HTTP_SINK_FAILED;
      outcome = ATTEMPT_FAILED;
      break;
    }
    transfer->sunk += read;
    got += read;
    flowing = read == blockSize;
  }
  free(block);
  if (outcome == ATTEMPT_RETRY) {
    ++transfer->cuts;
    Say(reason, reasonSize, "the connection was cut while fetching %s (%lu times)", transfer->path,
        (unsigned long)transfer->cuts);
  }
  return outcome;
}

/* An error of the TLS handshake or of the server's certificate. */
static int IsCertificateError(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
      return 1;
    default:
      return 0;
  }
}

static int Attempt(RunGameHttp* http, const wchar_t* widePath, Transfer* transfer, char* reason, size_t reasonSize) {
  HINTERNET request;
  wchar_t range[64];
  DWORD redirects = RUNGAME_HTTP_REDIRECTS;
  DWORD status;
  DWORD contentLength;
  unsigned long long expected = (unsigned long long)-1;
  int outcome;
  request = WinHttpOpenRequest(http->connection, L"GET", widePath, NULL, WINHTTP_NO_REFERER,
                               WINHTTP_DEFAULT_ACCEPT_TYPES, http->secure ? WINHTTP_FLAG_SECURE : 0);
  if (request == NULL) {
    Say(reason, reasonSize, "cannot ask for %s (error %lu)", transfer->path, GetLastError());
    transfer->result = RUNGAME_HTTP_FAILED;
    return ATTEMPT_FAILED;
  }
  /* A loop of redirects ends in a failure after a few. */
  WinHttpSetOption(request, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects, sizeof redirects);
  range[0] = L'\0';
  if (transfer->end > 0) {
    _snwprintf(range, 64, L"Range: bytes=%I64u-%I64u", transfer->sunk, transfer->end - 1);
  } else if (transfer->sunk > 0) {
    _snwprintf(range, 64, L"Range: bytes=%I64u-", transfer->sunk);
  }
  range[63] = L'\0';
  if (!WinHttpSendRequest(request, range[0] ? range : WINHTTP_NO_ADDITIONAL_HEADERS, range[0] ? (DWORD)-1L : 0,
                          WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request, NULL)) {
    DWORD error = GetLastError();
    WinHttpCloseHandle(request);
    if (error == ERROR_WINHTTP_REDIRECT_FAILED) {
      Say(reason, reasonSize, "too many redirects fetching %s", transfer->path, 0);
      transfer->result = RUNGAME_HTTP_FAILED;
      return ATTEMPT_FAILED;
    }
    /* No option lets a certificate pass that does not verify: trying again
       would only meet it again. */
    if (IsCertificateError(error)) {
      Say(reason, reasonSize, "the server's certificate does not verify fetching %s (error %lu)", transfer->path,
          error);
      transfer->result = RUNGAME_HTTP_FAILED;
      return ATTEMPT_FAILED;
    }
    Say(reason, reasonSize, "no answer for %s (error %lu)", transfer->path, error);
    transfer->wait = 1000;
    return ATTEMPT_RETRY;
  }
  status = QueryNumber(request, WINHTTP_QUERY_STATUS_CODE, 0);
  http->lastStatus = status;
  contentLength = QueryNumber(request, WINHTTP_QUERY_CONTENT_LENGTH, (DWORD)-1);
  if (contentLength != (DWORD)-1) expected = contentLength;
  if (status == 206 && RangeStart(request) != (long long)transfer->sunk) {
    /* A range other than the one asked for: start over. */
    WinHttpCloseHandle(request);
    Say(reason, reasonSize, "the server sent another range of %s", transfer->path, 0);
    transfer->result = Restart(transfer) ? RUNGAME_HTTP_OK : RUNGAME_HTTP_SINK_FAILED;
    return transfer->result == RUNGAME_HTTP_OK ? ATTEMPT_RETRY : ATTEMPT_FAILED;
  }
  if (status == 200 || status == 206) {
    if (status == 200 && transfer->sunk > 0 && !Restart(transfer)) {
      transfer->result = RUNGAME_HTTP_SINK_FAILED;
      outcome = ATTEMPT_FAILED;
    } else if (expected != (unsigned long long)-1 && transfer->sunk + expected > transfer->limit) {
      Say(reason, reasonSize, "%s is larger than it can be", transfer->path, 0);
      transfer->result = RUNGAME_HTTP_TOO_LARGE;
      outcome = ATTEMPT_FAILED;
    } else {
      outcome = ReadBody(http, request, transfer, expected, reason, reasonSize);
    }
    WinHttpCloseHandle(request);
    return outcome;
  }
  Say(reason, reasonSize, "the server answered %s with status %lu", transfer->path, status);
  if (status == 416 && transfer->sunk > 0) {
    /* What was kept is no start of this file any more. */
    outcome = Restart(transfer) ? ATTEMPT_RETRY : ATTEMPT_FAILED;
  } else if (status == 503) {
    DWORD seconds = QueryNumber(request, WINHTTP_QUERY_RETRY_AFTER, 1);
    outcome = seconds * 1000 <= RUNGAME_HTTP_LONGEST_WAIT_MS ? ATTEMPT_RETRY : ATTEMPT_FAILED;
    transfer->wait = seconds * 1000;
  } else if (status == 500 || status == 502 || status == 504 || status == 408) {
    outcome = ATTEMPT_RETRY;
    transfer->wait = 1000;
  } else {
    outcome = ATTEMPT_FAILED;
  }
  if (outcome == ATTEMPT_FAILED) transfer->result = RUNGAME_HTTP_FAILED;
  WinHttpCloseHandle(request);
  return outcome;
}

static int Get(RunGameHttp* http, const char* path, unsigned long long from, unsigned long long end,
               unsigned long long limit, RunGameHttpSink sink, RunGameHttpRestart restart, void* context, char* reason,
               size_t reasonSize) {
  wchar_t widePath[2048];
  size_t baseLength = wcslen(http->basePath);
  Transfer transfer;
  int attempt;
  memset(&transfer, 0, sizeof transfer);
  transfer.path = path;
  transfer.sunk = from;
  transfer.limit = limit;
  transfer.end = end;
  transfer.sink = sink;
  transfer.restart = restart;
  transfer.context = context;
  if (baseLength + strlen(path) + 1 > 2048) {
    Say(reason, reasonSize, "the URL of %s is too long", path, 0);
    return RUNGAME_HTTP_FAILED;
  }
  memcpy(widePath, http->basePath, baseLength * sizeof(wchar_t));
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath + baseLength, (int)(2048 - baseLength)) == 0) {
    return RUNGAME_HTTP_FAILED;
  }
  http->lastStatus = 0;
  for (attempt = 0; attempt < RUNGAME_HTTP_ATTEMPTS; ++attempt) {
    int outcome;
    if (attempt > 0 && !Wait(http, transfer.wait)) return RUNGAME_HTTP_CANCELLED;
    if (Cancelled(http)) return RUNGAME_HTTP_CANCELLED;
    transfer.wait = 0;
    transfer.result = RUNGAME_HTTP_OK;
    outcome = Attempt(http, widePath, &transfer, reason, reasonSize);
    if (outcome == ATTEMPT_DONE) return RUNGAME_HTTP_OK;
    if (outcome == ATTEMPT_FAILED) return transfer.result == RUNGAME_HTTP_OK ? RUNGAME_HTTP_FAILED : transfer.result;
  }
  return RUNGAME_HTTP_FAILED;
}

int RunGameHttpGet(RunGameHttp* http, const char* path, unsigned long long from, unsigned long long limit,
                   RunGameHttpSink sink, RunGameHttpRestart restart, void* context, char* reason, size_t reasonSize) {
  return Get(http, path, from, 0, limit, sink, restart, context, reason, reasonSize);
}

/* A server that answers a range with the whole file is refused by the
 * restart (or by the limit, for a range from byte 0). */
static int NoRestart(void* context) {
  (void)context;
  return 0;
}

int RunGameHttpGetRange(RunGameHttp* http, const char* path, unsigned long long from, unsigned long long end,
                        RunGameHttpSink sink, void* context, char* reason, size_t reasonSize) {
  if (end <= from) return RUNGAME_HTTP_FAILED;
  return Get(http, path, from, end, end, sink, NoRestart, context, reason, reasonSize);
}

int RunGameHttpAppend(void* context, const void* bytes, size_t size) {
  RunGameHttpBody* body = (RunGameHttpBody*)context;
  if (body->size + size > body->capacity) {
    size_t capacity = body->capacity ? body->capacity : 64 * 1024;
    unsigned char* grown;
    while (capacity < body->size + size) capacity *= 2;
    grown = (unsigned char*)realloc(body->bytes, capacity);
    if (grown == NULL) return 0;
    body->bytes = grown;
    body->capacity = capacity;
  }
  memcpy(body->bytes + body->size, bytes, size);
  body->size += size;
  return 1;
}

int RunGameHttpEmpty(void* context) {
  ((RunGameHttpBody*)context)->size = 0;
  return 1;
}

int RunGameHttpGetAll(RunGameHttp* http, const char* path, size_t limit, char** body, size_t* size, char* reason,
                      size_t reasonSize) {
  RunGameHttpBody buffer = {NULL, 0, 0};
  int result = RunGameHttpGet(http, path, 0, limit, RunGameHttpAppend, RunGameHttpEmpty, &buffer, reason, reasonSize);
  if (result != RUNGAME_HTTP_OK) {
    free(buffer.bytes);
    return result;
  }
  *body = (char*)buffer.bytes;
  *size = buffer.size;
  return RUNGAME_HTTP_OK;
}
