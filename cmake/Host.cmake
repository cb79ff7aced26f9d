# The host tree: the same sources as the image, built with sanitizers and tested against the
# simulated firmware; the fuzz target, the benchmark and the tests that boot the image in QEMU.
option(QUILLON_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" ON)
set(QUILLON_IMAGE_DIR "" CACHE PATH "The image tree with every architecture's image, for the image checks and the QEMU tests")
# Data the tests read where the machine keeps it and the repository holds no copy of: BMP Suite and
# real machines' ACPI tables, in a folder "shared" beside the repository. A clone made elsewhere (a
# fresh checkout in a scratch folder) finds it beside the repository it was cloned from;
# $QUILLON_SHARED_DATA names another place.
set(shared_data "${CMAKE_SOURCE_DIR}/../shared")
if(DEFINED ENV{QUILLON_SHARED_DATA})
  set(shared_data "$ENV{QUILLON_SHARED_DATA}")
elseif(NOT IS_DIRECTORY "${shared_data}")
  execute_process(COMMAND git -C "${CMAKE_SOURCE_DIR}" config --get remote.origin.url
                  OUTPUT_VARIABLE origin OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(origin AND IS_DIRECTORY "${origin}/../shared")
    set(shared_data "${origin}/../shared")
  endif()
endif()
set(QUILLON_SHARED_DATA "${shared_data}" CACHE PATH "The folder with bmpsuite/ and realacpi/")

enable_testing()
find_package(GTest REQUIRED)
find_package(benchmark REQUIRED)
find_package(fmt REQUIRED)
include(GoogleTest)

set(QUILLON_WARNINGS -Wall -Wextra -Werror)
set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
if(QUILLON_SANITIZE)
  add_compile_options(${SANITIZERS})
  add_link_options(${SANITIZERS})
endif()

option(QUILLON_GENERAL_REGS "Build the shared sources with general registers only, as every image is" OFF)

add_library(quillon_core STATIC ${QUILLON_SOURCES})
target_include_directories(quillon_core PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(quillon_core PRIVATE ${QUILLON_WARNINGS})
if(QUILLON_GENERAL_REGS)
  # The benchmark measures the code the images run: no vector register for the compiler to use.
  target_compile_options(quillon_core PRIVATE -mgeneral-regs-only)
endif()

# The stick program's own code, for its tests on the simulated firmware.
add_library(quillon_stick STATIC stick/StickEntry.cpp stick/ConsoleRecord.cpp stick/ScreenPicture.cpp
  stick/LogoOnScreen.cpp stick/SecureBootKeys.cpp)
target_link_libraries(quillon_stick PUBLIC quillon_core)
target_compile_options(quillon_stick PRIVATE ${QUILLON_WARNINGS})

add_library(quillon_sim STATIC sim/SimFirmware.cpp sim/SimFileSystem.cpp sim/SimGraphicsOutput.cpp sim/AcpiBuilder.cpp)
target_link_libraries(quillon_sim PUBLIC quillon_core)
target_compile_options(quillon_sim PRIVATE ${QUILLON_WARNINGS})

include(cmake/Linux.cmake)

add_subdirectory(tests)
add_subdirectory(bench)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_subdirectory(fuzz)
else()
  message(WARNING "The fuzz target needs clang; it is left out of this tree")
endif()
