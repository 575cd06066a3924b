# The studio's identity in its launcher: icon, version resource and
# Authenticode signature, set by cache options. With none set, the launcher
# carries what it always did: the drawn icon group and the minimal manifest.
set(LAUNCHER_ICON "" CACHE FILEPATH "The launcher's icon (.ico); empty: the drawn default")
set(LAUNCHER_VERSION "" CACHE STRING "File and product version, 1 to 4 numbers (1.2.0.7); empty with no string below: no version resource")
set(LAUNCHER_COMPANY "" CACHE STRING "CompanyName of the version resource")
set(LAUNCHER_PRODUCT "" CACHE STRING "ProductName of the version resource")
set(LAUNCHER_DESCRIPTION "" CACHE STRING "FileDescription of the version resource")
set(LAUNCHER_COPYRIGHT "" CACHE STRING "LegalCopyright of the version resource")
set(LAUNCHER_SIGN_CERT "" CACHE FILEPATH "PEM certificate (chain) to Authenticode-sign the launcher and packer.exe with; empty: unsigned")
set(LAUNCHER_SIGN_KEY "" CACHE FILEPATH "PEM private key of LAUNCHER_SIGN_CERT")

# The kit's own version: packer.exe's version resource and the release names.
set(LAUNCHER_KIT_VERSION 1.0.0)

# Signing time: the release's source date, so a signed release is reproducible.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(LAUNCHER_SIGN_TIME $ENV{SOURCE_DATE_EPOCH})
else()
  set(LAUNCHER_SIGN_TIME "")
endif()

set(_identity_dir ${CMAKE_CURRENT_LIST_DIR})

# "1.2" -> "1,2,0,0" for the binary fields of the version resource.
function(_identity_version_commas version out)
  string(REPLACE "." ";" parts "${version}")
  list(LENGTH parts count)
  if(count GREATER 4 OR NOT version MATCHES "^[0-9]+(\\.[0-9]+)*$")
    message(FATAL_ERROR "version '${version}' is not 1 to 4 numbers separated by dots")
  endif()
  while(count LESS 4)
    list(APPEND parts 0)
    math(EXPR count "${count} + 1")
  endwhile()
  string(REPLACE ";" "," commas "${parts}")
  set(${out} ${commas} PARENT_SCOPE)
endfunction()

# A resource-script string: quotes doubled, backslashes kept as written.
function(_identity_rc_string value out)
  string(REPLACE "\"" "\"\"" value "${value}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# identity_version_resource(TARGET FILE_NAME VERSION COMPANY PRODUCT DESCRIPTION COPYRIGHT)
# Adds a VERSIONINFO resource to TARGET, written at configure time.
function(identity_version_resource target file_name version company product description copyright)
  if(version STREQUAL "")
    set(version 0)
  endif()
  _identity_version_commas("${version}" RC_VERSION_COMMAS)
  set(RC_VERSION "${version}")
  foreach(field file_name company product description copyright)
    string(TOUPPER ${field} upper)
    _identity_rc_string("${${field}}" RC_${upper})
  endforeach()
  set(rc ${CMAKE_BINARY_DIR}/identity/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/resources/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

# identity_icon(TARGET ICON OUT_FOLDER): the icon file the target's resource
# script names "main.ico", in OUT_FOLDER: ICON copied, or the drawn default.
function(identity_icon target icon folder)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(out ${folder}/main.ico)
  if(icon STREQUAL "")
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
      COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/make_icon.py ${out}
      DEPENDS ${PROJECT_SOURCE_DIR}/tools/make_icon.py
      COMMENT "Drawing the launcher icon")
  else()
    get_filename_component(icon "${icon}" ABSOLUTE)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E copy ${icon} ${out}
      DEPENDS ${icon}
      COMMENT "Taking the launcher icon from ${icon}")
  endif()
  add_custom_target(${target}_icon DEPENDS ${out})
  add_dependencies(${target} ${target}_icon)
  set(rc ${PROJECT_SOURCE_DIR}/resources/launcher.rc)
  set_source_files_properties(${rc} TARGET_DIRECTORY ${target} PROPERTIES
    OBJECT_DEPENDS "${out};${PROJECT_SOURCE_DIR}/resources/launcher.manifest")
  target_sources(${target} PRIVATE ${rc})
  target_include_directories(${target} PRIVATE ${folder} ${PROJECT_SOURCE_DIR}/resources)
endfunction()

# identity_sign(TARGET CERT KEY): signs the built file in place after each link.
function(identity_sign target cert key)
  if(cert STREQUAL "")
    return()
  endif()
  if(key STREQUAL "")
    message(FATAL_ERROR "a signing certificate needs its key (LAUNCHER_SIGN_KEY)")
  endif()
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DTOOL=${OSSLSIGNCODE} -DCERT=${cert} -DKEY=${key}
            "-DTIME=${LAUNCHER_SIGN_TIME}" -DFILE=$<TARGET_FILE:${target}>
            -P ${_identity_dir}/sign.cmake
    VERBATIM)
endfunction()

# identity_launcher(TARGET NAME n [ICON f] [VERSION v] [COMPANY s] [PRODUCT s]
#                   [DESCRIPTION s] [COPYRIGHT s] [SIGN_CERT f SIGN_KEY f])
# A launcher executable as a studio ships it.
function(identity_launcher target)
  set(strings VERSION COMPANY PRODUCT DESCRIPTION COPYRIGHT)
  cmake_parse_arguments(ARG "" "NAME;ICON;${strings};SIGN_CERT;SIGN_KEY" "" ${ARGN})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${ARG_NAME})
  identity_icon(${target} "${ARG_ICON}" ${CMAKE_BINARY_DIR}/identity/${target})
  set(any "")
  foreach(s ${strings})
    string(APPEND any "${ARG_${s}}")
  endforeach()
  if(NOT any STREQUAL "")
    identity_version_resource(${target} "${ARG_NAME}.exe" "${ARG_VERSION}" "${ARG_COMPANY}"
      "${ARG_PRODUCT}" "${ARG_DESCRIPTION}" "${ARG_COPYRIGHT}")
  endif()
  identity_sign(${target} "${ARG_SIGN_CERT}" "${ARG_SIGN_KEY}")
endfunction()

# The launcher with the cache options above.
function(identity_launcher_from_options target)
  identity_launcher(${target} NAME "${LAUNCHER_NAME}" ICON "${LAUNCHER_ICON}"
    VERSION "${LAUNCHER_VERSION}" COMPANY "${LAUNCHER_COMPANY}" PRODUCT "${LAUNCHER_PRODUCT}"
    DESCRIPTION "${LAUNCHER_DESCRIPTION}" COPYRIGHT "${LAUNCHER_COPYRIGHT}"
    SIGN_CERT "${LAUNCHER_SIGN_CERT}" SIGN_KEY "${LAUNCHER_SIGN_KEY}")
endfunction()

# packer.exe: the project's own version resource, and the studio's signature.
function(identity_packer target)
  identity_version_resource(${target} packer.exe ${LAUNCHER_KIT_VERSION} "${PROJECT_NAME} project"
    "${PROJECT_NAME} release kit" "Update packer for the ${PROJECT_NAME}" "")
  identity_sign(${target} "${LAUNCHER_SIGN_CERT}" "${LAUNCHER_SIGN_KEY}")
endfunction()
