# Third-party libraries, all from Debian packages. The cross build never puts
# /usr/include itself on its include path: each library's own folder is exposed
# through a small directory of links in the build tree instead.
set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)

if(WIN32)
  set(_korvex_inc ${CMAKE_BINARY_DIR}/third_party/include)
  file(MAKE_DIRECTORY ${_korvex_inc})
  foreach(dir fmt nlohmann)
    if(NOT EXISTS ${_korvex_inc}/${dir})
      file(CREATE_LINK /usr/include/${dir} ${_korvex_inc}/${dir} SYMBOLIC)
    endif()
  endforeach()

  add_library(korvex::fmt INTERFACE IMPORTED)
  target_include_directories(korvex::fmt INTERFACE ${_korvex_inc})
  target_compile_definitions(korvex::fmt INTERFACE FMT_HEADER_ONLY)

  # GoogleTest is built from the sources Debian ships in /usr/src/googletest.
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  add_library(korvex::gtest_main ALIAS gtest_main)
  add_library(korvex::gmock ALIAS gmock)
else()
  find_package(fmt REQUIRED)
  add_library(korvex::fmt ALIAS fmt::fmt)
  find_package(GTest REQUIRED)
  add_library(korvex::gtest_main ALIAS GTest::gtest_main)
  add_library(korvex::gmock ALIAS GTest::gmock)
  # The audio output on Linux: PulseAudio's client library.
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
endif()
