# The Linux command, quillon: the report, the bitmap rule, the verdict and the readers, the same
# sources as the images, over a machine made of what the running kernel keeps. Built in the host
# tree for its tests, and alone (QUILLON_LINUX_ONLY) for `make linux` and `make install`.
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
target_link_libraries(quillon PRIVATE quillon_core PkgConfig::LIBDRM)
target_compile_options(quillon PRIVATE -Wall -Wextra -Werror)

include(GNUInstallDirs)
install(TARGETS quillon RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES linux/quillon.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
