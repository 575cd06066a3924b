# The game-side files of the update helper, in one place: the package below
# builds them and the release kit ships them. Headers are in include/ of this
# repository (sdk/include/ of a kit), sources in this folder (sdk/src/ of a
# kit).
set(RUNGAME_UPDATE_HEADERS rungame.h rungame_update.h rungame_sha256.h rungame_signed.h)
set(RUNGAME_UPDATE_SOURCES rungame_update.c rungame_stage.h rungame_sha256.c rungame_signed.c)
# The download from a feed (rungame_download.h), rungame::download: WinHTTP,
# zlib and the feed's formats, in feed/ beside the sources' folder.
set(RUNGAME_DOWNLOAD_HEADERS rungame_download.h)
set(RUNGAME_DOWNLOAD_FEED feed_chunker.c feed_chunker.h feed_envelope.c feed_envelope.h feed_index.c feed_index.h
  feed_manifest.c feed_manifest.h feed_packs.c feed_packs.h feed_store.c feed_store.h feed_text.c feed_text.h)
set(RUNGAME_DOWNLOAD_LIBRARIES winhttp)
set(RUNGAME_DOWNLOAD_SOURCES rungame_download.c rungame_http.c rungame_http.h download_job.h download_feed.c
  download_files.c download_plan.c download_batch.c download_store.c download_assemble.c)
# The shared rules the helper compiles in, in rules/ beside that folder, and
# the update format's core, in format/ beside it.
set(RUNGAME_UPDATE_RULES rungame_rules.h)
set(RUNGAME_UPDATE_FORMAT rungame_format.h check.c hex.c manifest.c signed.c version.c)
# SHA-256 on the processor's own instructions, in hash/ beside that folder.
set(RUNGAME_UPDATE_HASH sha256.h sha256.c)
# Libraries the helper links beyond the C runtime (kernel32 comes with it);
# libsodium, for SHA-256 and signatures, is found by the package itself.
set(RUNGAME_UPDATE_LIBRARIES)
