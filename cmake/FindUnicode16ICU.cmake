# Provides kivo::icu, an ICU "uc" library whose Unicode data is version 16.0
# or later. The system ICU is used when it is new enough; otherwise the static
# build made by scripts/build-icu.sh (in the per-user cache, or KIVO_ICU_ROOT).
if(DEFINED ENV{KIVO_ICU_ROOT})
  set(_kivo_icu_default "$ENV{KIVO_ICU_ROOT}")
elseif(DEFINED ENV{XDG_CACHE_HOME})
  set(_kivo_icu_default "$ENV{XDG_CACHE_HOME}/kivo/icu-76.1")
else()
  set(_kivo_icu_default "$ENV{HOME}/.cache/kivo/icu-76.1")
endif()
set(KIVO_ICU_ROOT "${_kivo_icu_default}" CACHE PATH "Static ICU prefix")

function(kivo_unicode_version include_dir out_var)
  set(${out_var} "" PARENT_SCOPE)
  if(EXISTS "${include_dir}/unicode/uchar.h")
    file(STRINGS "${include_dir}/unicode/uchar.h" line REGEX "^#define U_UNICODE_VERSION \"")
    string(REGEX MATCH "\"([0-9]+)" _ "${line}")
    set(${out_var} "${CMAKE_MATCH_1}" PARENT_SCOPE)
  endif()
endfunction()

add_library(kivo::icu INTERFACE IMPORTED)

find_package(ICU COMPONENTS uc QUIET)
set(_kivo_system_unicode "")
if(ICU_FOUND)
  kivo_unicode_version("${ICU_INCLUDE_DIR}" _kivo_system_unicode)
endif()

if(_kivo_system_unicode AND _kivo_system_unicode GREATER_EQUAL 16)
  message(STATUS "kivo: system ICU ${ICU_VERSION} (Unicode ${_kivo_system_unicode})")
  target_link_libraries(kivo::icu INTERFACE ICU::uc)
elseif(EXISTS "${KIVO_ICU_ROOT}/lib/libicuuc.a")
  kivo_unicode_version("${KIVO_ICU_ROOT}/include" _kivo_static_unicode)
  if(NOT _kivo_static_unicode OR _kivo_static_unicode LESS 16)
    message(FATAL_ERROR "kivo: the ICU in ${KIVO_ICU_ROOT} has Unicode ${_kivo_static_unicode}; "
                        "kivo needs Unicode 16.0 or later (ICU 76+).")
  endif()
  message(STATUS "kivo: static ICU from ${KIVO_ICU_ROOT} (Unicode ${_kivo_static_unicode})")
  target_include_directories(kivo::icu INTERFACE "${KIVO_ICU_ROOT}/include")
  target_compile_definitions(kivo::icu INTERFACE U_STATIC_IMPLEMENTATION)
  target_link_libraries(kivo::icu INTERFACE "${KIVO_ICU_ROOT}/lib/libicuuc.a" ${CMAKE_DL_LIBS})
else()
  message(FATAL_ERROR
    "kivo: needs ICU with Unicode 16.0 or later (ICU 76+); found "
    "${ICU_VERSION} with Unicode '${_kivo_system_unicode}'. Install ICU 76+ "
    "development files, or run scripts/build-icu.sh to build a static ICU into ${KIVO_ICU_ROOT}.")
endif()
