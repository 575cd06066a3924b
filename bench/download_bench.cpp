// What a download from a feed costs against the floor, WinHTTP itself:
//
//   download_bench bare URL                     one GET, the body read and dropped
//   download_bench feed URL DATA KEY [MARKER]   RunGameDownloadUpdate into DATA
//   download_bench trust DER                    the authority of DER trusted
//
// Prints "<bytes> <milliseconds>": the body's bytes for bare, the chunks'
// bytes (uncompressed) for feed, and for feed the milliseconds until the
// last chunk was in (index, manifest, plan and fetch, before assembling).
// Timed inside the process, so Wine's start counts for neither.
#include <windows.h>
#include <wincrypt.h>
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
                                                      WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                      parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0)
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

// Trusts the certificate authority in the DER file `path` for this account,
// as a player's machine trusts the studio host's.
int Trust(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return 2;
  std::vector<unsigned char> der(64 * 1024);
  const std::size_t size = std::fread(der.data(), 1, der.size(), file);
  std::fclose(file);
  const HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "Root");
  const bool added = root != nullptr && CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(),
                                                                         static_cast<DWORD>(size),
                                                                         CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  if (root != nullptr) CertCloseStore(root, 0);
  return added ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "trust") == 0) return Trust(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "bare") == 0) return Bare(argv[2]);
  if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "feed") == 0) {
    return Feed(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : "update.ready");
  }
  std::fprintf(stderr, "usage: download_bench bare URL | feed URL DATA KEY [MARKER] | trust DER\n");
  return 2;
}
