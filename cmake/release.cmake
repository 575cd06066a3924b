# What a release kit holds of this build (cmake --install; tools/release.sh
# packs it): per Windows architecture the launcher, packer.exe and the game-
# side helper package; from the native build the packer, under linux/.
# The files named after `from` and `to`, from that folder of the project
# into that folder of the kit.
function(release_install_listed from to)
  list(TRANSFORM ARGN PREPEND ${PROJECT_SOURCE_DIR}/${from}/ OUTPUT_VARIABLE files)
  install(FILES ${files} DESTINATION ${to})
endfunction()

function(release_install)
  if(NOT WIN32)
    install(TARGETS packer RUNTIME DESTINATION linux)
    return()
  endif()
  install(TARGETS launcher packer RUNTIME DESTINATION .)
  # The helper's files as its package lists them, beside the package.
  include(${PROJECT_SOURCE_DIR}/sdk/files.cmake)
  release_install_listed(include sdk/include ${RUNGAME_UPDATE_HEADERS} ${RUNGAME_DOWNLOAD_HEADERS})
  release_install_listed(sdk sdk/src ${RUNGAME_UPDATE_SOURCES} ${RUNGAME_DOWNLOAD_SOURCES})
  release_install_listed(rules sdk/rules ${RUNGAME_UPDATE_RULES})
  release_install_listed(format sdk/format ${RUNGAME_UPDATE_FORMAT})
  release_install_listed(hash sdk/hash ${RUNGAME_UPDATE_HASH})
  release_install_listed(feed sdk/feed ${RUNGAME_DOWNLOAD_FEED})
  # The static zlib the download links, as this build found it.
  install(FILES ${ZLIB_INCLUDE_DIR}/zlib.h ${ZLIB_INCLUDE_DIR}/zconf.h DESTINATION sdk/zlib/include)
  install(FILES ${ZLIB_LIBRARY_RELEASE} DESTINATION sdk/zlib/lib)
  # The static libsodium the helper links, as this build made it.
  if(LIBSODIUM_PREFIX)
    install(FILES ${LIBSODIUM_PREFIX}/lib/libsodium.a DESTINATION sdk/sodium/lib)
    install(DIRECTORY ${LIBSODIUM_PREFIX}/include/ DESTINATION sdk/sodium/include)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/sdk/CMakeLists.txt ${PROJECT_SOURCE_DIR}/sdk/files.cmake
    ${PROJECT_SOURCE_DIR}/sdk/rungame_update-config.cmake DESTINATION sdk)
endfunction()
