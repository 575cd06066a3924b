// What a download from a feed costs against the floor, WinHTTP itself:
//
//   download_bench bare URL                     one GET, the body read and dropped
//   download_bench feed URL DATA KEY [MARKER]   RunGameDownloadUpdate into DATA
//
// Prints "<bytes> <milliseconds>": the body's bytes for bare, the chunks'
// bytes (uncompressed) for feed, and for feed the milliseconds until the
// last chunk was in (index, manifest, plan and fetch, before assembling).
// Timed inside the process, so Wine's start counts for neither.
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "include/rungame_download.h"

namespace {

double Milliseconds(LARGE_INTEGER from) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(now.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int Bare(const char* url) {
  std::wstring wide(url, url + std::strlen(url));
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = parts.dwUrlPathLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(wide.c_str(), 0, 0, &parts)) return 2;
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  HINTERNET session = WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
  HINTERNET connection = session ? WinHttpConnect(session, host.c_str(), parts.nPort, 0) : nullptr;
  HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                                      WINHTTP_DEFAULT_ACCEPT_TYPES, 0)
                                 : nullptr;
  if (!request || !WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request, nullptr)) {
    return 1;
  }
  std::vector<char> block(64 * 1024);
  unsigned long long total = 0;
  DWORD read = 0;
  while (WinHttpReadData(request, block.data(), static_cast<DWORD>(block.size()), &read) && read > 0) total += read;
  const double ms = Milliseconds(start);
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
  std::printf("%llu %.1f\n", total, ms);
  return 0;
}

// The moment the last chunk arrived, told by the progress callback.
struct Fetched {
  LARGE_INTEGER start;
  double ms = 0;
};

int Feed(const char* url, const char* data, const char* key, const char* marker) {
  RunGameFeedUpdate update;
  Fetched fetched;
  const auto progress = [](void* context, unsigned long long done, unsigned long long total) {
    auto* fetched = static_cast<Fetched*>(context);
    if (done == total) fetched->ms = Milliseconds(fetched->start);
    return 1;
  };
  QueryPerformanceCounter(&fetched.start);
  const int result = RunGameDownloadUpdate(url, nullptr, data, key, marker, progress, &fetched, nullptr, &update);
  const double ms = Milliseconds(fetched.start);
  if (result != RUNGAME_FEED_OK) {
    std::fprintf(stderr, "download: %d %s\n", result, update.reason);
    return 1;
  }
  std::printf("%llu %.1f %.1f\n", update.downloadBytes, ms, fetched.ms);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "bare") == 0) return Bare(argv[2]);
  if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "feed") == 0) {
    return Feed(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : "update.ready");
  }
  std::fprintf(stderr, "usage: download_bench bare URL | feed URL DATA KEY [MARKER]\n");
  return 2;
}
