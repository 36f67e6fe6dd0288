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

  add_library(korvex::nlohmann_json INTERFACE IMPORTED)
  target_include_directories(korvex::nlohmann_json INTERFACE ${_korvex_inc})
else()
  find_package(fmt REQUIRED)
  add_library(korvex::fmt ALIAS fmt::fmt)
  find_package(nlohmann_json 3 REQUIRED)
  add_library(korvex::nlohmann_json ALIAS nlohmann_json::nlohmann_json)
endif()

if(KORVEX_FUZZ)
  return()  # the harnesses need nothing more
endif()

if(WIN32)
  # GoogleTest is built from the sources Debian ships in /usr/src/googletest.
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  add_library(korvex::gtest_main ALIAS gtest_main)
  add_library(korvex::gmock ALIAS gmock)
else()
  find_package(GTest REQUIRED)
  add_library(korvex::gtest_main ALIAS GTest::gtest_main)
  add_library(korvex::gmock ALIAS GTest::gmock)
  # The audio output on Linux: PulseAudio's client library.
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
  # Service advertisement and the phone simulator's browsing: the Avahi daemon's client.
  pkg_check_modules(AVAHI_CLIENT REQUIRED IMPORTED_TARGET avahi-client)
  # The camera on Linux: a PipeWire node. Its C headers are not ours to keep
  # free of warnings.
  pkg_check_modules(PIPEWIRE REQUIRED IMPORTED_TARGET libpipewire-0.3)
  get_target_property(_korvex_pipewire_inc PkgConfig::PIPEWIRE INTERFACE_INCLUDE_DIRECTORIES)
  set_target_properties(PkgConfig::PIPEWIRE PROPERTIES
                        INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${_korvex_pipewire_inc}")
endif()

# PNG encoding for the frame dumps: stb_image_write, header-only; its folder
# holds nothing but stb headers, so it goes on the include path as it is.
add_library(korvex::stb INTERFACE IMPORTED)
target_include_directories(korvex::stb SYSTEM INTERFACE /usr/include/stb)

# H.264 decoding: the system's transform on Windows, libavcodec on Linux;
# libx264 makes the test streams and the phone simulator's stream on Linux.
if(WIN32)
  add_library(korvex::h264 INTERFACE IMPORTED)
  target_link_libraries(korvex::h264 INTERFACE mfplat mfuuid ole32 oleaut32)
else()
  pkg_check_modules(LIBAVCODEC REQUIRED IMPORTED_TARGET libavcodec libavutil)
  add_library(korvex::h264 ALIAS PkgConfig::LIBAVCODEC)
  pkg_check_modules(X264 REQUIRED IMPORTED_TARGET x264)
  add_library(korvex::x264 ALIAS PkgConfig::X264)
endif()
