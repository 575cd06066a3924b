# find_package(rungame_update): the installed helper as rungame::update.
include(${CMAKE_CURRENT_LIST_DIR}/rungame_update-targets.cmake)
