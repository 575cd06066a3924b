# A tree configured straight from CMakePresets.json finds its dependencies
# where the build scripts prepare them (build/deps); when they are missing,
# they are prepared here, once, the same way.
if(CMAKE_HOST_UNIX AND TINYXML_SOURCE_DIR AND NOT EXISTS ${TINYXML_SOURCE_DIR}/tinyxml.cpp)
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/tools/fetch-source.sh tinyxml ${TINYXML_SOURCE_DIR}
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "fetching TinyXML's source into ${TINYXML_SOURCE_DIR} failed")
  endif()
endif()
if(CMAKE_HOST_UNIX AND LIBSODIUM_PREFIX AND NOT EXISTS ${LIBSODIUM_PREFIX}/lib/libsodium.a)
  get_filename_component(deps ${LIBSODIUM_PREFIX} DIRECTORY)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(arch win64)
  else()
    set(arch win32)
  endif()
  message(STATUS "Building libsodium into ${LIBSODIUM_PREFIX} (about a minute)")
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/tools/fetch-source.sh libsodium ${deps}/libsodium --autoreconf
    RESULT_VARIABLE failed)
  if(NOT failed)
    execute_process(COMMAND ${PROJECT_SOURCE_DIR}/tools/build-libsodium.sh ${deps}/libsodium ${arch} ${LIBSODIUM_PREFIX}
      RESULT_VARIABLE failed)
  endif()
  if(failed)
    message(FATAL_ERROR "building libsodium into ${LIBSODIUM_PREFIX} failed")
  endif()
endif()

# zlib: Debian's libz-mingw-w64-dev (or any installed zlib).
# Linked statically: the launcher ships with nothing beside it.
if(MINGW)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)

# TinyXML: built here from Debian's patched source package, as a static library.
if(TINYXML_SOURCE_DIR)
  add_library(tinyxml STATIC
    ${TINYXML_SOURCE_DIR}/tinyxml.cpp
    ${TINYXML_SOURCE_DIR}/tinyxmlparser.cpp
    ${TINYXML_SOURCE_DIR}/tinyxmlerror.cpp)
  target_include_directories(tinyxml SYSTEM PUBLIC ${TINYXML_SOURCE_DIR})
  target_compile_definitions(tinyxml PUBLIC TIXML_USE_STL)
  if(NOT MSVC)
    target_compile_options(tinyxml PRIVATE -w)
  endif()
else()
  # A native Windows build takes tinyxml from its package manager.
  find_path(TINYXML_INCLUDE_DIR tinyxml.h REQUIRED)
  find_library(TINYXML_LIBRARY tinyxml REQUIRED)
  add_library(tinyxml UNKNOWN IMPORTED)
  set_target_properties(tinyxml PROPERTIES
    IMPORTED_LOCATION ${TINYXML_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${TINYXML_INCLUDE_DIR}
    INTERFACE_COMPILE_DEFINITIONS TIXML_USE_STL)
endif()

# libsodium: Ed25519 signatures of updates and SHA-256. The Windows builds
# link the static library tools/build-libsodium.sh builds from Debian's source
# package (LIBSODIUM_PREFIX); a native build takes the installed one
# (libsodium-dev; on Windows, a package manager's).
if(LIBSODIUM_PREFIX)
  if(NOT EXISTS ${LIBSODIUM_PREFIX}/lib/libsodium.a)
    message(FATAL_ERROR "no libsodium.a under LIBSODIUM_PREFIX (${LIBSODIUM_PREFIX}); tools/build.sh builds it")
  endif()
  add_library(sodium STATIC IMPORTED)
  set_target_properties(sodium PROPERTIES
    IMPORTED_LOCATION ${LIBSODIUM_PREFIX}/lib/libsodium.a
    INTERFACE_INCLUDE_DIRECTORIES ${LIBSODIUM_PREFIX}/include
    INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC
    # RtlGenRandom, for random bytes.
    INTERFACE_LINK_LIBRARIES advapi32)
else()
  find_path(SODIUM_INCLUDE_DIR sodium.h REQUIRED)
  # The static library first (Debian's libsodium-dev has it): the packer
  # then runs where libsodium is not installed.
  find_library(SODIUM_LIBRARY NAMES libsodium.a sodium libsodium REQUIRED)
  add_library(sodium UNKNOWN IMPORTED)
  set_target_properties(sodium PROPERTIES
    IMPORTED_LOCATION ${SODIUM_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${SODIUM_INCLUDE_DIR})
endif()
