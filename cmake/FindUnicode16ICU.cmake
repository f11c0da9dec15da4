# Provides kivo::icu, an ICU "uc" library whose Unicode data is version 16.0
# or later, from the first of:
#   1. KIVO_ICU_ROOT (a CMake or environment variable): an ICU install prefix
#      with include/unicode and lib/libicuuc.a or lib/libicuuc.so;
#   2. the system ICU, when new enough (not for KIVO_PORTABLE builds, which
#      carry ICU inside the module);
#   3. a static ICU 76 in the per-user cache, which scripts/build-icu.sh
#      fetches and builds there, without root, on the first build that needs it.
set(KIVO_ICU_VERSION 76.1)
if(NOT KIVO_ICU_ROOT AND NOT "$ENV{KIVO_ICU_ROOT}" STREQUAL "")
  set(KIVO_ICU_ROOT "$ENV{KIVO_ICU_ROOT}")
endif()
if(NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
  set(_kivo_cache "$ENV{XDG_CACHE_HOME}/kivo")
else()
  set(_kivo_cache "$ENV{HOME}/.cache/kivo")
endif()
set(_kivo_build_icu "${CMAKE_CURRENT_LIST_DIR}/../scripts/build-icu.sh")

function(kivo_unicode_version include_dir out_var)
  set(${out_var} "" PARENT_SCOPE)
  if(EXISTS "${include_dir}/unicode/uchar.h")
    file(STRINGS "${include_dir}/unicode/uchar.h" line REGEX "^#define U_UNICODE_VERSION \"")
    string(REGEX MATCH "\"([0-9]+)" _ "${line}")
    set(${out_var} "${CMAKE_MATCH_1}" PARENT_SCOPE)
  endif()
endfunction()

add_library(kivo::icu INTERFACE IMPORTED)

# Links kivo::icu to the ICU in `prefix`; `why_not` is left empty on success,
# otherwise it says what is wrong with that prefix.
function(kivo_use_icu_prefix prefix why_not)
  kivo_unicode_version("${prefix}/include" unicode)
  if(NOT unicode)
    set(${why_not} "${prefix} has no include/unicode/uchar.h" PARENT_SCOPE)
    return()
  elseif(unicode LESS 16)
    set(${why_not} "the ICU in ${prefix} has Unicode ${unicode}" PARENT_SCOPE)
    return()
  endif()
  set(lib "${prefix}/lib")
  if(EXISTS "${lib}/libicuuc.a")
    target_compile_definitions(kivo::icu INTERFACE U_STATIC_IMPLEMENTATION)
    target_link_libraries(kivo::icu INTERFACE "${lib}/libicuuc.a")
    # ICU's own static builds keep the data entry point in a library of its own.
    if(EXISTS "${lib}/libicudata.a")
      target_link_libraries(kivo::icu INTERFACE "${lib}/libicudata.a")
    endif()
    target_link_libraries(kivo::icu INTERFACE ${CMAKE_DL_LIBS})
  elseif(EXISTS "${lib}/libicuuc.so" AND NOT KIVO_PORTABLE)
    target_link_libraries(kivo::icu INTERFACE "${lib}/libicuuc.so")
    target_link_options(kivo::icu INTERFACE "-Wl,-rpath,${lib}")
  else()
    set(${why_not} "${prefix} has no lib/libicuuc.a or lib/libicuuc.so" PARENT_SCOPE)
    return()
  endif()
  target_include_directories(kivo::icu INTERFACE "${prefix}/include")
  message(STATUS "kivo: ICU from ${prefix} (Unicode ${unicode})")
  set(${why_not} "" PARENT_SCOPE)
endfunction()

# Fetches and builds the static ICU into `prefix` with this build's compiler.
function(kivo_build_icu prefix why_not)
  message(STATUS "kivo: building ICU ${KIVO_ICU_VERSION} into ${prefix} (once per user)")
  set(log_file "${CMAKE_BINARY_DIR}/kivo-build-icu.log")
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -E env "CXX=${CMAKE_CXX_COMPILER}" "CMAKE=${CMAKE_COMMAND}"
            "CMAKE_GENERATOR=${CMAKE_GENERATOR}" "CMAKE_MAKE_PROGRAM=${CMAKE_MAKE_PROGRAM}"
            bash "${_kivo_build_icu}" "${prefix}"
    RESULT_VARIABLE status OUTPUT_VARIABLE log ERROR_VARIABLE log)
  file(WRITE "${log_file}" "${log}")
  if(status EQUAL 0)
    set(${why_not} "" PARENT_SCOPE)
    return()
  endif()
  string(LENGTH "${log}" length)
  if(length GREATER 1500)
    math(EXPR start "${length} - 1500")
    string(SUBSTRING "${log}" ${start} -1 log)
    set(log "...${log}")
  endif()
  set(${why_not} "failed (${status}); the end of ${log_file}:\n${log}"
      PARENT_SCOPE)
endfunction()

function(kivo_icu_not_found found)
  message(FATAL_ERROR "kivo needs ICU with Unicode 16.0 or later (ICU 76+). ${found}\n"
    "Any one of these three ways works:\n"
    "  1. Install the system's ICU 76+ development files, e.g. on Debian 13 or Ubuntu 25.04:\n"
    "       sudo apt install libicu-dev\n"
    "  2. Point the build at an ICU 76+ install prefix (include/unicode, lib/libicuuc.a or .so):\n"
    "       KIVO_ICU_ROOT=/path/to/icu pip install kivo\n"
    "  3. Let the build fetch and build ICU ${KIVO_ICU_VERSION} into ${_kivo_cache} by itself.\n"
    "     It uses apt-get (Debian, Ubuntu) with the Debian archive keyring and needs access to\n"
    "     deb.debian.org. Without those, download ICU's source, icu4c-76_1-src.tgz\n"
    "     (https://github.com/unicode-org/icu/releases/tag/release-76-1), put it there:\n"
    "       mkdir -p ${_kivo_cache}/src && cp icu4c-76_1-src.tgz ${_kivo_cache}/src/\n"
    "     and run the same pip install again.")
endfunction()

if(KIVO_ICU_ROOT)
  kivo_use_icu_prefix("${KIVO_ICU_ROOT}" why_not)
  if(why_not)
    kivo_icu_not_found("KIVO_ICU_ROOT is set, but ${why_not}.")
  endif()
  return()
endif()

set(_kivo_system "not used for a portable build")
if(NOT KIVO_PORTABLE)
  find_package(ICU COMPONENTS uc QUIET)
  set(_kivo_system "none found")
  if(ICU_FOUND)
    kivo_unicode_version("${ICU_INCLUDE_DIR}" _kivo_system_unicode)
    if(_kivo_system_unicode AND _kivo_system_unicode GREATER_EQUAL 16)
      message(STATUS "kivo: system ICU ${ICU_VERSION} (Unicode ${_kivo_system_unicode})")
      target_link_libraries(kivo::icu INTERFACE ICU::uc)
      return()
    endif()
    set(_kivo_system "ICU ${ICU_VERSION} has Unicode ${_kivo_system_unicode}")
  endif()
endif()

set(_kivo_cached "${_kivo_cache}/icu-${KIVO_ICU_VERSION}")
set(_kivo_tried "System ICU: ${_kivo_system}. KIVO_ICU_ROOT: not set.")
if(NOT EXISTS "${_kivo_cached}/lib/libicuuc.a")
  kivo_build_icu("${_kivo_cached}" why_not)
  if(why_not)
    kivo_icu_not_found("${_kivo_tried} Fetching and building ICU ${KIVO_ICU_VERSION}: ${why_not}")
  endif()
endif()
kivo_use_icu_prefix("${_kivo_cached}" why_not)
if(why_not)
  kivo_icu_not_found("${_kivo_tried} The cached one: ${why_not}.")
endif()
