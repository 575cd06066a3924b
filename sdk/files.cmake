# The game-side files of the update helper, in one place: the package below
# builds them and the release kit ships them. Names are relative to the
# folder that holds them: include/ of this repository, sdk/include/ of a kit.
set(RUNGAME_UPDATE_HEADERS rungame.h rungame_update.h)
set(RUNGAME_UPDATE_SOURCES rungame_update.c)
# Libraries the helper links beyond the C runtime (kernel32 comes with it).
set(RUNGAME_UPDATE_LIBRARIES)
