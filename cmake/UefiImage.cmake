# Cross-compiles UEFI images: clang-19 emits PE/COFF objects for a Windows-like target of each
# architecture and lld-link makes EFI applications of them. The target triple is set per image
# (cmake/Image.cmake); nothing from a C or C++ runtime is linked.
set(CMAKE_SYSTEM_NAME Generic)

set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_AR llvm-ar-19 CACHE FILEPATH "")
set(CMAKE_LINKER lld-link-19 CACHE FILEPATH "")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(QUILLON_IMAGE ON)
set(CMAKE_CXX_LINK_EXECUTABLE "<CMAKE_LINKER> <LINK_FLAGS> <OBJECTS> /out:<TARGET> <LINK_LIBRARIES>")
