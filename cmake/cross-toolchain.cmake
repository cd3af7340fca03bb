# Cross build for another Debian architecture against a sysroot of its packages:
#   CAMERA_SYSROOT=DIR CAMERA_TARGET=aarch64-linux-gnu \
#     cmake -S . -B build-cross/arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/cross-toolchain.cmake
# scripts/packages.sh makes the sysroot (make_sysroot); scripts/test --arch and
# scripts/package --arch set both variables. They come from the environment, not the cache,
# because CMake reads this file again for every compiler check, without the cache.
# Debian's cross compilers build, the host's Qt code generators (moc, rcc, uic, lrelease)
# run on the host (QT_HOST_PATH), and CMAKE_CROSSCOMPILING_EMULATOR runs the target's
# programs under qemu-user.
set(CAMERA_SYSROOT "$ENV{CAMERA_SYSROOT}")
set(CAMERA_TARGET "$ENV{CAMERA_TARGET}")
if(NOT IS_DIRECTORY "${CAMERA_SYSROOT}/usr/lib/${CAMERA_TARGET}")
  message(FATAL_ERROR "CAMERA_SYSROOT='${CAMERA_SYSROOT}' holds no libraries of "
                      "CAMERA_TARGET='${CAMERA_TARGET}'")
endif()

set(CMAKE_SYSTEM_NAME Linux)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${CAMERA_TARGET}")
set(CMAKE_SYSROOT "${CAMERA_SYSROOT}")
set(CMAKE_LIBRARY_ARCHITECTURE "${CAMERA_TARGET}")
# dh_auto_configure names the compilers itself.
if(NOT CMAKE_C_COMPILER)
  set(CMAKE_C_COMPILER ${CAMERA_TARGET}-gcc)
endif()
if(NOT CMAKE_CXX_COMPILER)
  set(CMAKE_CXX_COMPILER ${CAMERA_TARGET}-g++)
endif()

# Libraries, headers and CMake packages from the sysroot only; programs from the host.
set(CMAKE_FIND_ROOT_PATH "${CAMERA_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

execute_process(COMMAND dpkg-architecture -qDEB_BUILD_MULTIARCH
                OUTPUT_VARIABLE camera_build_multiarch OUTPUT_STRIP_TRAILING_WHITESPACE)
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${camera_build_multiarch}/cmake)
# Where Qt looks for its *Tools packages (LinguistTools, whose lrelease the build runs).
set(Qt6HostInfo_DIR ${QT_HOST_PATH_CMAKE_DIR}/Qt6HostInfo)

# The host's pkg-config, reading only the sysroot's .pc files; a cross wrapper named by
# dh_auto_configure need not exist.
set(PKG_CONFIG_EXECUTABLE /usr/bin/pkg-config CACHE FILEPATH "pkg-config" FORCE)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${CAMERA_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR} "${CAMERA_SYSROOT}/usr/lib/${CAMERA_TARGET}/pkgconfig:${CAMERA_SYSROOT}/usr/share/pkgconfig")

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "arm")
  set(camera_qemu qemu-arm-static)
else()
  set(camera_qemu qemu-${CMAKE_SYSTEM_PROCESSOR}-static)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${camera_qemu} -L "${CAMERA_SYSROOT}")
