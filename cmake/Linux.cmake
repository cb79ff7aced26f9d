# The Linux command, quillon: the report, the bitmap rule, the verdict and the readers, the same
# sources as the images, over a machine made of what the running kernel keeps. Built in the host
# tree for its tests, and alone (QUILLON_LINUX_ONLY) for `make linux` and `make install`; with
# QUILLON_STATIC linked statically, for a machine whose libraries are not this one's.
option(QUILLON_STATIC "Link the Linux command statically: the C library, libstdc++ and libdrm" OFF)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBDRM REQUIRED IMPORTED_TARGET libdrm)

if(NOT TARGET quillon_core)
  add_library(quillon_core STATIC ${QUILLON_SOURCES})
  target_include_directories(quillon_core PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_options(quillon_core PRIVATE -Wall -Wextra -Werror)
endif()

add_executable(quillon
  linux/QuillonMain.cpp
  linux/RunningMachine.cpp
  linux/DumpReport.cpp
  linux/LinuxMachine.cpp
  linux/FolderVolume.cpp
  linux/KernelTables.cpp
  linux/DrmDisplays.cpp
  linux/AcpiDump.cpp
  linux/TableFiles.cpp
)
target_compile_options(quillon PRIVATE -Wall -Wextra -Werror)
if(QUILLON_STATIC)
  # pkg-config's imported target names libdrm.so itself, which a static link refuses.
  find_library(LIBDRM_ARCHIVE libdrm.a HINTS ${LIBDRM_LIBRARY_DIRS} REQUIRED)
  target_include_directories(quillon PRIVATE ${LIBDRM_INCLUDE_DIRS})
  target_link_libraries(quillon PRIVATE quillon_core ${LIBDRM_ARCHIVE} m)
  target_link_options(quillon PRIVATE -static -static-libstdc++)
else()
  target_link_libraries(quillon PRIVATE quillon_core PkgConfig::LIBDRM)
endif()

# In the host tree, whose sanitizers a static program cannot have, the static command is a tree of
# its own: the end-to-end tests put it in the initramfs of Debian's kernel booted after Quillon.
if(NOT QUILLON_LINUX_ONLY)
  include(ExternalProject)
  set(QUILLON_STATIC_COMMAND ${CMAKE_BINARY_DIR}/quillon-static/quillon)
  ExternalProject_Add(quillon_static
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/quillon-static
    CMAKE_ARGS -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER} -DCMAKE_BUILD_TYPE=Release -DQUILLON_LINUX_ONLY=ON
               -DQUILLON_STATIC=ON
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target quillon
    BUILD_BYPRODUCTS ${QUILLON_STATIC_COMMAND}
    INSTALL_COMMAND ""
    # Its sources are this tree's: built again whenever the host tree is, make finding what changed.
    BUILD_ALWAYS ON)
endif()

include(GNUInstallDirs)
install(TARGETS quillon RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES linux/quillon.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
