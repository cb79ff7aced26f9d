# The images, one for each architecture, from the same sources: freestanding, no exceptions or
# RTTI, no red zone, stack protector or stack probes, and no floating point. Each image is checked
# as it is made. Images are reproducible: no time stamp, and no path of the build or the sources.
# Built for size: the image runs once and prints a few dozen lines, and the few sparse switches in it
# take less room as compare chains than as jump tables.
set(QUILLON_IMAGE_FLAGS
  -ffreestanding -nostdlibinc -fno-exceptions -fno-rtti -fno-threadsafe-statics -ffunction-sections -fdata-sections
  -fno-stack-protector -fno-asynchronous-unwind-tables -fno-unwind-tables
  -Oz -fno-jump-tables -fno-vectorize -fno-slp-vectorize -fno-unroll-loops -Wall -Wextra -Werror -Wframe-larger-than=1024
  -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
)
set(QUILLON_LINK_FLAGS /subsystem:efi_application /nodefaultlib /debug:none /Brepro /opt:ref /opt:icf
  /merge:.rdata=.text /merge:.pdata=.text)

find_program(LLVM_READOBJ NAMES llvm-readobj-19 llvm-readobj REQUIRED)

# Name: the image's file name without .efi; Arch: x64, ia32 or aa64; Entry: the entry symbol.
function(add_uefi_image Name Arch Entry)
  if(Arch STREQUAL "x64")
    set(triple x86_64-unknown-windows)
    set(machine x64)
    # Some x64 firmware starts applications with SSE switched off (U-Boot does), so no image uses a
    # floating-point or vector register at all; the check after linking holds the x86 images to it.
    set(flags -mno-red-zone -mno-stack-arg-probe -mgeneral-regs-only)
  elseif(Arch STREQUAL "ia32")
    set(triple i686-unknown-windows)
    set(machine x86)
    set(flags -mno-stack-arg-probe -mgeneral-regs-only -mregparm=3)
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
    COMMAND ${CMAKE_SOURCE_DIR}/tools/check-image.sh ${LLVM_READOBJ} $<TARGET_FILE:${Name}> ${Arch}
            ${CMAKE_BINARY_DIR}/${Name}.map ${Entry} ${QUILLON_IMAGE_MAX_BYTES}
    VERBATIM)
endfunction()

set(QUILLON_IMAGES Quillon QuillonIA32 QuillonAA64)
add_uefi_image(Quillon x64 AppEntry ${QUILLON_SOURCES})
add_uefi_image(QuillonIA32 ia32 AppEntry ${QUILLON_SOURCES})
add_uefi_image(QuillonAA64 aa64 AppEntry ${QUILLON_SOURCES})

# The stick program: the same report around an entry of its own, and the .sbat section shim wants,
# which only the link's /include keeps, as no code refers to it. It may grow to 40 KiB.
set(QUILLON_IMAGE_MAX_BYTES 40960)
set(STICK_SOURCES stick/StickEntry.cpp stick/ConsoleRecord.cpp stick/SecureBootKeys.cpp stick/Sbat.cpp
  ${QUILLON_SOURCES})
add_uefi_image(QuillonStick x64 StickEntry ${STICK_SOURCES})
add_uefi_image(QuillonStickIA32 ia32 StickEntry ${STICK_SOURCES})
add_uefi_image(QuillonStickAA64 aa64 StickEntry ${STICK_SOURCES})
target_link_options(QuillonStick PRIVATE /include:QuillonSbat)
target_link_options(QuillonStickIA32 PRIVATE /include:_QuillonSbat)
target_link_options(QuillonStickAA64 PRIVATE /include:QuillonSbat)
list(APPEND QUILLON_IMAGES QuillonStick QuillonStickIA32 QuillonStickAA64)
unset(QUILLON_IMAGE_MAX_BYTES)

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
add_uefi_image(CraftTables x64 CraftEntry tests/e2e/CraftTables.cpp ${TEST_PROGRAM_SOURCES})
add_uefi_image(CraftTablesIA32 ia32 CraftEntry tests/e2e/CraftTables.cpp ${TEST_PROGRAM_SOURCES})
add_uefi_image(CraftTablesAA64 aa64 CraftEntry tests/e2e/CraftTables.cpp ${TEST_PROGRAM_SOURCES})
add_uefi_image(FatRename x64 FatRenameEntry tests/e2e/FatRename.cpp ${TEST_PROGRAM_SOURCES})
# A third writes firmware variables, for the variable stores the Secure Boot tests boot with (x64
# and AArch64, the two whose firmware here enforces Secure Boot).
add_uefi_image(SetVariables x64 SetVariablesEntry tests/e2e/SetVariables.cpp ${TEST_PROGRAM_SOURCES})
add_uefi_image(SetVariablesAA64 aa64 SetVariablesEntry tests/e2e/SetVariables.cpp ${TEST_PROGRAM_SOURCES})
