# find_package(rungame_update): the installed helper as rungame::update, and
# on Windows the download from a feed as rungame::download.
include(${CMAKE_CURRENT_LIST_DIR}/rungame_update-targets.cmake)
