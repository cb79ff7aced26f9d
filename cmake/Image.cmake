# Quillon.efi: freestanding, no exceptions or RTTI, no red zone, stack protector or stack probes.
set(QUILLON_IMAGE_FLAGS
  -ffreestanding -nostdlibinc -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -mno-red-zone -fno-stack-protector -mno-stack-arg-probe -fno-asynchronous-unwind-tables -fno-unwind-tables
  -Os -fno-vectorize -fno-slp-vectorize -fno-unroll-loops -Wall -Wextra -Werror -Wframe-larger-than=1024
)

add_executable(Quillon ${QUILLON_SOURCES} base/Memory.cpp)
set_target_properties(Quillon PROPERTIES SUFFIX .efi)
target_include_directories(Quillon PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(Quillon PRIVATE ${QUILLON_IMAGE_FLAGS})
target_link_options(Quillon PRIVATE
  /subsystem:efi_application /entry:AppEntry /nodefaultlib /opt:ref /opt:icf /debug:none
  /merge:.rdata=.text /merge:.pdata=.text /map:${CMAKE_BINARY_DIR}/Quillon.map
)

# Every image is checked as it is made: PE32+, EFI application, x86-64, entry AppEntry, relocatable,
# no imports.
find_program(LLVM_READOBJ NAMES llvm-readobj-19 llvm-readobj REQUIRED)
add_custom_command(TARGET Quillon POST_BUILD
  COMMAND ${CMAKE_SOURCE_DIR}/tools/check-image.sh ${LLVM_READOBJ} $<TARGET_FILE:Quillon>
          ${CMAKE_BINARY_DIR}/Quillon.map AppEntry
  VERBATIM
)

# Test-only programs for the end-to-end tests: one installs crafted ACPI tables before Quillon
# runs, the other asks the FAT driver what the save relies on.
foreach(program CraftTables FatRename)
  add_executable(${program} tests/e2e/${program}.cpp base/Assert.cpp base/BoundedLength.cpp base/Guid.cpp
    base/Memory.cpp print/ConsolePrint.cpp print/FormatCore.cpp print/RecordConversions.cpp print/StatusNames.cpp)
  set_target_properties(${program} PROPERTIES SUFFIX .efi)
  target_include_directories(${program} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${program} PRIVATE ${QUILLON_IMAGE_FLAGS})
endforeach()
target_link_options(CraftTables PRIVATE /subsystem:efi_application /entry:CraftEntry /nodefaultlib /debug:none)
target_link_options(FatRename PRIVATE /subsystem:efi_application /entry:FatRenameEntry /nodefaultlib /debug:none)
