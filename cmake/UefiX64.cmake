# Cross-compiles for x64 UEFI: clang-19 emits PE/COFF objects for a Windows-like target and lld-link
# makes an EFI application of them. Nothing from a C or C++ runtime is linked.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_CXX_FLAGS_INIT "--target=x86_64-unknown-windows")
set(CMAKE_AR llvm-ar-19 CACHE FILEPATH "")
set(CMAKE_LINKER lld-link-19 CACHE FILEPATH "")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(QUILLON_IMAGE ON)
set(CMAKE_CXX_LINK_EXECUTABLE "<CMAKE_LINKER> <LINK_FLAGS> <OBJECTS> /out:<TARGET> <LINK_LIBRARIES>")
