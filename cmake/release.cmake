# What a release kit holds of this build (cmake --install; tools/release.sh
# packs it): per Windows architecture the launcher, packer.exe and the game-
# side helper package; from the native build the packer, under linux/.
function(release_install)
  if(NOT WIN32)
    install(TARGETS packer RUNTIME DESTINATION linux)
    return()
  endif()
  install(TARGETS launcher packer RUNTIME DESTINATION .)
  # The helper's files as its package lists them, beside the package.
  include(${PROJECT_SOURCE_DIR}/sdk/files.cmake)
  foreach(file ${RUNGAME_UPDATE_HEADERS})
    install(FILES ${PROJECT_SOURCE_DIR}/include/${file} DESTINATION sdk/include)
  endforeach()
  foreach(file ${RUNGAME_UPDATE_SOURCES})
    install(FILES ${PROJECT_SOURCE_DIR}/sdk/${file} DESTINATION sdk/src)
  endforeach()
  foreach(file ${RUNGAME_UPDATE_RULES})
    install(FILES ${PROJECT_SOURCE_DIR}/rules/${file} DESTINATION sdk/rules)
  endforeach()
  foreach(file ${RUNGAME_UPDATE_FORMAT})
    install(FILES ${PROJECT_SOURCE_DIR}/format/${file} DESTINATION sdk/format)
  endforeach()
  foreach(file ${RUNGAME_UPDATE_HASH})
    install(FILES ${PROJECT_SOURCE_DIR}/hash/${file} DESTINATION sdk/hash)
  endforeach()
  # The static libsodium the helper links, as this build made it.
  if(LIBSODIUM_PREFIX)
    install(FILES ${LIBSODIUM_PREFIX}/lib/libsodium.a DESTINATION sdk/sodium/lib)
    install(DIRECTORY ${LIBSODIUM_PREFIX}/include/ DESTINATION sdk/sodium/include)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/sdk/CMakeLists.txt ${PROJECT_SOURCE_DIR}/sdk/files.cmake
    ${PROJECT_SOURCE_DIR}/sdk/rungame_update-config.cmake DESTINATION sdk)
endfunction()
