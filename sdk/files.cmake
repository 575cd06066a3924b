# The game-side files of the update helper, in one place: the package below
# builds them and the release kit ships them. Names are relative to the
# folder that holds them: include/ of this repository, sdk/include/ of a kit.
set(RUNGAME_UPDATE_HEADERS rungame.h rungame_update.h rungame_sha256.h rungame_signed.h rungame_signed_manifest.h)
set(RUNGAME_UPDATE_SOURCES rungame_update.c rungame_sha256.c rungame_signed.c rungame_signed_manifest.c)
# The shared rules the helper compiles in, in rules/ beside that folder.
set(RUNGAME_UPDATE_RULES rungame_rules.h)
# Libraries the helper links beyond the C runtime (kernel32 comes with it);
# libsodium, for SHA-256 and signatures, is found by the package itself.
set(RUNGAME_UPDATE_LIBRARIES)
