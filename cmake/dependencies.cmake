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
