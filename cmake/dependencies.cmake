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
  find_library(SODIUM_LIBRARY NAMES sodium libsodium REQUIRED)
  add_library(sodium UNKNOWN IMPORTED)
  set_target_properties(sodium PROPERTIES
    IMPORTED_LOCATION ${SODIUM_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${SODIUM_INCLUDE_DIR})
endif()
