# The images, one for each architecture, from the same sources: freestanding, no exceptions or
# RTTI, no red zone, stack protector or stack probes, and no floating point. Without probes, no frame
# may skip a page of stack, so frames are held to half a page; the largest is the stick program's
# entry, which keeps the report's record and the console's. Each image is checked
# as it is made, its size too (cmake/ImageBounds.cmake). Images are reproducible: no time stamp,
# and no path of the build or the sources.
#
# What keeps them small, and what each saves on Quillon.efi / QuillonIA32.efi / QuillonAA64.efi
# (measured by building without it):
#   -Oz rather than -Os                        1.5 / 2 / 0.5 KiB of file (4 / 4.5 / 1.5 KiB against -O2)
#   -ffunction-sections with /opt:ref          4 KiB each: what no image calls is left out, such as
#                                              the runtime engine FormatCore (every format is compiled)
#   /merge:.rdata=.text                        0.5 to 1 KiB: one section's padding instead of two
#   -fno-jump-tables                           512 bytes on IA32, whose tables would need a relocation
#                                              an entry; the few sparse switches cost less as compares
#   compiled formats (print/FormatProgram.h)   a directive with no flag, width or precision keeps no
#                                              fields: 280 / 270 / 270 bytes
#   packed text blocks (base/PackedTexts.h)    status names and bitmap faults without a table of
#                                              pointers, and so without relocations: 470 / 240 / 670 bytes
#   WriteDirective kept out of line            256 / 180 / 16 bytes (print/FormatCore.cpp)
#   PE headers over the DOS stub               512 bytes each: the headers take one file block, not two
#                                              (tools/compact-headers.py, after linking)
#   CRC-32 a nibble at a time                  a 64-byte table rather than 1 KiB (base/Checksum.cpp)
# None of them changes an interface: the print calls take their arguments one way, as a list of slots.
#
# What strict-NX firmware wants of an image, which the image check holds each one to:
#   NX_COMPAT set                              /nxcompat, lld-link's default, said here all the same
#   sections page-aligned (4 KiB)              lld-link's default section alignment, 4096; /align
#                                              would change it (and lld-link warns of it without /driver)
#   no section writable and executable         the merges below move only read-only data (.rdata,
#                                              .pdata) into the code section; writable data stays in
#                                              .data, which is never merged into .text
set(QUILLON_IMAGE_FLAGS
  -ffreestanding -nostdlibinc -fno-exceptions -fno-rtti -fno-threadsafe-statics -ffunction-sections -fdata-sections
  -fno-stack-protector -fno-asynchronous-unwind-tables -fno-unwind-tables
  -Oz -fno-jump-tables -fno-vectorize -fno-slp-vectorize -fno-unroll-loops -Wall -Wextra -Werror -Wframe-larger-than=2048
  -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
)
set(QUILLON_LINK_FLAGS /subsystem:efi_application /nodefaultlib /debug:none /Brepro /opt:ref /nxcompat
  /merge:.rdata=.text /merge:.pdata=.text)

find_program(LLVM_READOBJ NAMES llvm-readobj-19 llvm-readobj REQUIRED)

include(cmake/ImageBounds.cmake)

# Name: the image's file name without .efi; Arch: x64, ia32 or aa64; Entry: the entry symbol; MostBytes:
# its size bound.
function(add_uefi_image Name Arch Entry MostBytes)
  if(Arch STREQUAL "x64")
    set(triple x86_64-unknown-windows)
    set(machine x64)
    # Some x64 firmware starts applications with SSE switched off (U-Boot does), so no image uses a
    # floating-point or vector register at all; the check after linking holds the x86 images to it.
    set(flags -mno-red-zone -mno-stack-arg-probe -mgeneral-regs-only)
  elseif(Arch STREQUAL "ia32")
    set(triple i686-unknown-windows)
    set(machine x86)
    set(flags -mno-stack-arg-probe -mgeneral-regs-only)
    set(underscore _)  # 32-bit x86 C names carry a leading underscore
  elseif(Arch STREQUAL "aa64")
    set(triple aarch64-unknown-windows)
    set(machine arm64)
    set(flags -mgeneral-regs-only)
  else()
    message(FATAL_ERROR "no such architecture: ${Arch}")
  endif()
  add_executable(${Name} ${ARGN} base/Memory.cpp base/RelocationAnchor.cpp)
  set_target_properties(${Name} PROPERTIES SUFFIX .efi)
  target_include_directories(${Name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${Name} PRIVATE --target=${triple} ${QUILLON_IMAGE_FLAGS} ${flags})
  # Nothing refers to the relocation anchor but the link.
  target_link_options(${Name} PRIVATE ${QUILLON_LINK_FLAGS} /machine:${machine} /entry:${Entry}
    /include:${underscore}ImageRelocationAnchor
    /map:${CMAKE_BINARY_DIR}/${Name}.map)
  add_custom_command(TARGET ${Name} POST_BUILD
    COMMAND python3 ${CMAKE_SOURCE_DIR}/tools/mark-uninitialised.py $<TARGET_FILE:${Name}>
    COMMAND python3 ${CMAKE_SOURCE_DIR}/tools/compact-headers.py $<TARGET_FILE:${Name}>
    COMMAND ${CMAKE_SOURCE_DIR}/tools/check-image.sh ${LLVM_READOBJ} $<TARGET_FILE:${Name}> ${Arch} ${MostBytes}
            ${CMAKE_BINARY_DIR}/${Name}.map ${Entry}
    VERBATIM)
endfunction()

set(QUILLON_IMAGES Quillon QuillonIA32 QuillonAA64)
add_uefi_image(Quillon x64 AppEntry ${QUILLON_IMAGE_MOST_BYTES} ${QUILLON_SOURCES})
add_uefi_image(QuillonIA32 ia32 AppEntry ${QUILLON_IMAGE_MOST_BYTES} ${QUILLON_SOURCES})
add_uefi_image(QuillonAA64 aa64 AppEntry ${QUILLON_IMAGE_MOST_BYTES} ${QUILLON_SOURCES})

# The stick program: the same report around an entry of its own, and the .sbat section shim wants,
# which only the link's /include keeps, as no code refers to it.
set(STICK_SOURCES stick/StickEntry.cpp stick/ConsoleRecord.cpp stick/ScreenPicture.cpp stick/LogoOnScreen.cpp
  stick/SecureBootKeys.cpp stick/Sbat.cpp ${QUILLON_SOURCES})
add_uefi_image(QuillonStick x64 StickEntry ${QUILLON_STICK_MOST_BYTES} ${STICK_SOURCES})
add_uefi_image(QuillonStickIA32 ia32 StickEntry ${QUILLON_STICK_MOST_BYTES} ${STICK_SOURCES})
add_uefi_image(QuillonStickAA64 aa64 StickEntry ${QUILLON_STICK_MOST_BYTES} ${STICK_SOURCES})
target_link_options(QuillonStick PRIVATE /include:QuillonSbat)
target_link_options(QuillonStickIA32 PRIVATE /include:_QuillonSbat)
target_link_options(QuillonStickAA64 PRIVATE /include:QuillonSbat)
list(APPEND QUILLON_IMAGES QuillonStick QuillonStickIA32 QuillonStickAA64)

# `make image` says what it made: every image's SHA-256, also kept in SHA256SUMS.
list(TRANSFORM QUILLON_IMAGES APPEND .efi OUTPUT_VARIABLE IMAGE_FILES)
string(JOIN " " IMAGE_FILES ${IMAGE_FILES})
add_custom_target(image_checksums ALL
  COMMAND sh -c "sha256sum ${IMAGE_FILES} | tee SHA256SUMS"
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  DEPENDS ${QUILLON_IMAGES}
  VERBATIM)

# Test-only programs for the end-to-end tests: one installs crafted ACPI tables before Quillon
# runs, on every architecture; another asks x64 OVMF's FAT driver what the save relies on.
set(TEST_PROGRAM_SOURCES base/Assert.cpp base/BoundedLength.cpp base/Guid.cpp print/ConsolePrint.cpp
  print/FormatCore.cpp print/RecordConversions.cpp print/StatusNames.cpp)
add_uefi_image(CraftTables x64 CraftEntry ${QUILLON_IMAGE_MOST_BYTES} tests/e2e/CraftTables.cpp ${TEST_PROGRAM_SOURCES})
add_uefi_image(CraftTablesIA32 ia32 CraftEntry ${QUILLON_IMAGE_MOST_BYTES} tests/e2e/CraftTables.cpp ${TEST_PROGRAM_SOURCES})
add_uefi_image(CraftTablesAA64 aa64 CraftEntry ${QUILLON_IMAGE_MOST_BYTES} tests/e2e/CraftTables.cpp ${TEST_PROGRAM_SOURCES})
add_uefi_image(FatRename x64 FatRenameEntry ${QUILLON_IMAGE_MOST_BYTES} tests/e2e/FatRename.cpp ${TEST_PROGRAM_SOURCES})
# A third writes firmware variables, for the variable stores the Secure Boot tests boot with (x64
# and AArch64, the two whose firmware here enforces Secure Boot).
add_uefi_image(SetVariables x64 SetVariablesEntry ${QUILLON_IMAGE_MOST_BYTES} tests/e2e/SetVariables.cpp ${TEST_PROGRAM_SOURCES})
add_uefi_image(SetVariablesAA64 aa64 SetVariablesEntry ${QUILLON_IMAGE_MOST_BYTES} tests/e2e/SetVariables.cpp ${TEST_PROGRAM_SOURCES})
