/* See rungame_download.h: the two calls, each a run of the steps in
 * download_job.h. Plain C and the ANSI Windows API beside WinHTTP. */
#include "rungame_download.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include <sodium.h>

#include "../rules/rungame_rules.h"
#include "download_job.h"
#include "rungame_signed.h"
#include "rungame_update.h"

static void EndJob(Job* job) {
  RunGameHttpClose(&job->http);
  FeedFreeIndex(&job->index);
  FeedFreeManifest(&job->manifest);
  free(job->stepText);
  rungame_free_manifest(&job->step);
  free(job->changed);
  free(job->local);
  free((void*)job->missing);
  DownloadFreeBatches(job);
}

static int Begin(Job* job, RunGameFeedUpdate* update, const char* feedUrl, const char* channel, const char* dataFolder,
                 const char* publicKeyHex, const volatile long* cancel, volatile long* phase, int repair) {
  char versionFile[MAX_PATH];
  memset(job, 0, sizeof *job);
  job->update = update;
  job->repair = repair;
  job->feedUrl = feedUrl;
  job->cancel = cancel;
  job->phase = phase;
  memset(update, 0, sizeof *update);
  if (feedUrl == NULL || feedUrl[0] == '\0' || publicKeyHex == NULL || !rungame_parse_public_key(publicKeyHex, job->key)) {
    DownloadTell(update, "no feed URL or no valid public key%s%s", "", "");
    return RUNGAME_FEED_BAD_ARGUMENT;
  }
  if (dataFolder == NULL) {
    if (!RunGameDataFolder(job->dataFolder, MAX_PATH)) return RUNGAME_FEED_BAD_ARGUMENT;
  } else if (dataFolder[0] == '\0' || strlen(dataFolder) >= MAX_PATH) {
    return RUNGAME_FEED_BAD_ARGUMENT;
  } else {
    strcpy(job->dataFolder, dataFolder);
  }
  if (!rungame_join_path(job->downloads, job->dataFolder, RUNGAME_DOWNLOAD_FOLDER) ||
      !rungame_join_path(versionFile, job->dataFolder, RUNGAME_VERSION_FILE)) {
    DownloadTell(update, "the data folder's path is too long%s%s", "", "");
    return RUNGAME_FEED_BAD_ARGUMENT;
  }
  if (sodium_init() < 0) return RUNGAME_FEED_WRITE_FAILED;
  job->hasVersion = RunGameReadVersionFile(versionFile, &job->haveX, &job->haveY);
  if (!RunGameHttpOpen(&job->http, feedUrl, cancel, update->reason, sizeof update->reason)) {
    return RUNGAME_FEED_BAD_ARGUMENT;
  }
  return DownloadReadFeed(job, channel ? channel : "stable");
}

/* What is still to fetch: the chunks neither the data folder nor the store
 * holds. */
static void Count(Job* job) {
  size_t c;
  for (c = 0; c < job->missingCount; ++c) {
    job->update->downloadBytes += job->missing[c]->size;
    ++job->update->chunkCount;
  }
}

int RunGameCheckForUpdate(const char* feedUrl, const char* channel, const char* dataFolder, const char* publicKeyHex,
                          RunGameFeedUpdate* update) {
  Job job;
  int result;
  if (update == NULL) return RUNGAME_FEED_BAD_ARGUMENT;
  result = Begin(&job, update, feedUrl, channel, dataFolder, publicKeyHex, NULL, NULL, 0);
  if (result == RUNGAME_FEED_OK) result = DownloadPlan(&job);
  if (result == RUNGAME_FEED_OK) Count(&job);
  EndJob(&job);
  return result;
}

/* Fetches what the plan lacks, then assembles and stages it. */
static int FetchAndStage(Job* job, const char* markerName, RunGameFeedProgress progress, void* progressContext) {
  int result = RUNGAME_FEED_OK;
  Count(job);
  if (!DownloadMakeOwnFolder(job->downloads)) {
    DownloadTell(job->update, "cannot make %s (a file or link there?)%s", job->downloads, "");
    result = RUNGAME_FEED_WRITE_FAILED;
  }
  if (result == RUNGAME_FEED_OK) result = DownloadBatch(job);
  if (result == RUNGAME_FEED_OK) result = DownloadFetch(job, progress, progressContext);
  if (result == RUNGAME_FEED_OK && job->repair) result = DownloadTakeRecord(job);
  if (result == RUNGAME_FEED_OK) result = DownloadAssembleAndStage(job, markerName);
  /* Staged, the downloads have served; refused by the staging, the update
     folder made of them goes, and the next call makes it anew. */
  if (result == RUNGAME_FEED_OK) {
    DownloadClean(job);
  } else if (job->updateFolder[0]) {
    DownloadRemoveOwnTree(job->updateFolder);
  }
  return result;
}

static int Download(const char* feedUrl, const char* channel, const char* dataFolder, const char* publicKeyHex,
                    const char* markerName, RunGameFeedProgress progress, void* progressContext,
                    const volatile long* cancel, volatile long* phase, RunGameFeedUpdate* update, int repair) {
  Job job;
  int result = Begin(&job, update, feedUrl, channel, dataFolder, publicKeyHex, cancel, phase, repair);
  if (result == RUNGAME_FEED_OK) result = DownloadPlan(&job);
  if (result == RUNGAME_FEED_OK && repair && !DownloadAnyChanged(&job)) result = RUNGAME_FEED_UP_TO_DATE;
  if (result == RUNGAME_FEED_OK) result = FetchAndStage(&job, markerName, progress, progressContext);
  EndJob(&job);
  return result;
}

/* A call runs on a thread of its own while the caller's thread tells the
 * progress and watches the cancel flag: WinHTTP, under Wine at least, ends
 * a call blocked on a stalled server only at its timeouts, whatever handle
 * is closed, so a cancel is heard by leaving such a thread behind. The
 * thread owns everything it uses (this block, its copies of the arguments)
 * and holds its own module loaded, so that it may end after the call
 * returned, and even after the game's module was let go. Once left behind
 * its cancel flag is set and the download stops at it, but a chunk its
 * request completes meanwhile may still be added to its own store file,
 * which the next call reads and checks like any other. */
typedef struct Call {
  volatile long references; /* the caller's and the thread's */
  volatile long cancel;
  volatile long phase; /* a DownloadPhase */
  CRITICAL_SECTION lock; /* guards done and total */
  unsigned long long done, total;
  char* feedUrl;
  char* channel;
  char* dataFolder;
  char* publicKeyHex;
  char* markerName;
  int repair;
  HMODULE module; /* this code's module, held by the thread; NULL: an .exe */
  RunGameFeedUpdate update;
  int result;
} Call;

/* How long a cancelled call waits for its thread to end by itself. */
#define CANCEL_GRACE_MS 600

static char* Copy(const char* text) {
  char* copy;
  if (text == NULL) return NULL;
  copy = (char*)malloc(strlen(text) + 1);
  if (copy != NULL) strcpy(copy, text);
  return copy;
}

static void Release(Call* call) {
  if (InterlockedDecrement(&call->references) != 0) return;
  DeleteCriticalSection(&call->lock);
  free(call->feedUrl);
  free(call->channel);
  free(call->dataFolder);
  free(call->publicKeyHex);
  free(call->markerName);
  free(call);
}

static int Tell(void* context, unsigned long long done, unsigned long long total) {
  Call* call = (Call*)context;
  EnterCriticalSection(&call->lock);
  call->done = done;
  call->total = total;
  LeaveCriticalSection(&call->lock);
  return !call->cancel;
}

static DWORD WINAPI RunCall(void* context) {
  Call* call = (Call*)context;
  const HMODULE module = call->module;
  call->result = Download(call->feedUrl, call->channel, call->dataFolder, call->publicKeyHex, call->markerName, Tell,
                          call, &call->cancel, &call->phase, &call->update, call->repair);
  Release(call);
  if (module != NULL) FreeLibraryAndExitThread(module, 0);
  return 0;
}

/* This code's module held once more, so that it stays mapped while a thread
 * runs in it; NULL for an .exe, which stays anyway, or when it cannot be. */
static HMODULE HoldOwnModule(void) {
  MEMORY_BASIC_INFORMATION region;
  char path[MAX_PATH];
  DWORD length;
  if (VirtualQuery((const void*)&HoldOwnModule, &region, sizeof region) == 0) return NULL;
  if ((HMODULE)region.AllocationBase == GetModuleHandleA(NULL)) return NULL;
  length = GetModuleFileNameA((HMODULE)region.AllocationBase, path, sizeof path);
  return length > 0 && length < sizeof path ? LoadLibraryA(path) : NULL;
}

static int Supervise(const char* feedUrl, const char* channel, const char* dataFolder, const char* publicKeyHex,
                     const char* markerName, RunGameFeedProgress progress, void* progressContext,
                     const volatile long* cancel, RunGameFeedUpdate* update, int repair) {
  Call* call;
  HANDLE thread;
  DWORD cancelledAt = 0;
  unsigned long long told = (unsigned long long)-1;
  int cancelled = 0, result;
  if (update == NULL) return RUNGAME_FEED_BAD_ARGUMENT;
  memset(update, 0, sizeof *update);
  if (markerName == NULL || !rungame_is_plain_marker_name(markerName)) {
    DownloadTell(update, "the marker is no plain file name%s%s", "", "");
    return RUNGAME_FEED_BAD_ARGUMENT;
  }
  call = (Call*)calloc(1, sizeof *call);
  if (call == NULL) return RUNGAME_FEED_WRITE_FAILED;
  InitializeCriticalSection(&call->lock);
  call->references = 2;
  call->feedUrl = Copy(feedUrl);
  call->channel = Copy(channel);
  call->dataFolder = Copy(dataFolder);
  call->publicKeyHex = Copy(publicKeyHex);
  call->markerName = Copy(markerName);
  call->repair = repair;
  call->module = HoldOwnModule();
  thread = CreateThread(NULL, 0, RunCall, call, 0, NULL);
  if (thread == NULL) {
    if (call->module != NULL) FreeLibrary(call->module);
    call->references = 1;
    Release(call);
    DownloadTell(update, "cannot start a thread%s%s", "", "");
    return RUNGAME_FEED_WRITE_FAILED;
  }
  for (;;) {
    const DWORD waited = WaitForSingleObject(thread, 50);
    unsigned long long done, total;
    EnterCriticalSection(&call->lock);
    done = call->done;
    total = call->total;
    LeaveCriticalSection(&call->lock);
    if (progress != NULL && done != told) {
      told = done;
      if (!progress(progressContext, done, total)) cancelled = 1;
    }
    if (cancel != NULL && *cancel) cancelled = 1;
    /* A cancel that comes once the staging began waits for its end. */
    if (cancelled && cancelledAt == 0 &&
        InterlockedCompareExchange(&call->phase, DOWNLOAD_CANCELLED, DOWNLOAD_WORKING) != DOWNLOAD_STAGING) {
      InterlockedExchange(&call->cancel, 1);
      cancelledAt = GetTickCount() | 1;
    }
    if (waited == WAIT_OBJECT_0) {
      *update = call->update;
      result = call->result;
      break;
    }
    if (waited != WAIT_TIMEOUT || (cancelledAt != 0 && GetTickCount() - cancelledAt > CANCEL_GRACE_MS)) {
      /* Left behind: it ends at its own pace, and frees what it holds. */
      memset(update, 0, sizeof *update);
      DownloadTell(update, "cancelled%s%s", "", "");
      result = RUNGAME_FEED_CANCELLED;
      break;
    }
  }
  CloseHandle(thread);
  Release(call);
  return result;
}

int RunGameDownloadUpdate(const char* feedUrl, const char* channel, const char* dataFolder, const char* publicKeyHex,
                          const char* markerName, RunGameFeedProgress progress, void* progressContext,
                          const volatile long* cancel, RunGameFeedUpdate* update) {
  return Supervise(feedUrl, channel, dataFolder, publicKeyHex, markerName, progress, progressContext, cancel, update, 0);
}

int RunGameRepairFromFeed(const char* feedUrl, const char* channel, const char* dataFolder, const char* publicKeyHex,
                          const char* markerName, RunGameFeedProgress progress, void* progressContext,
                          const volatile long* cancel, RunGameFeedUpdate* update) {
  return Supervise(feedUrl, channel, dataFolder, publicKeyHex, markerName, progress, progressContext, cancel, update, 1);
}
