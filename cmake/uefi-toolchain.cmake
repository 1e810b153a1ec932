# Cross toolchain for the PE32+ images: clang++ emits COFF objects for the Windows x64
# target (which gives the Microsoft x64 calling convention firmware expects) and lld-link
# writes the EFI image. Nothing from a C or C++ runtime is linked.

set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

find_program(UEFI_CLANGXX NAMES clang++ clang++-16 clang++-15 clang++-14 REQUIRED)
find_program(UEFI_LLD_LINK NAMES lld-link lld-link-16 lld-link-15 lld-link-14 REQUIRED)
# Only CMake's compiler probe archives anything (see CMAKE_TRY_COMPILE_TARGET_TYPE).
find_program(UEFI_ARCHIVER NAMES llvm-ar llvm-ar-16 llvm-ar-15 llvm-ar-14 ar REQUIRED)

set(CMAKE_CXX_COMPILER ${UEFI_CLANGXX})
set(CMAKE_LINKER ${UEFI_LLD_LINK} CACHE FILEPATH "UEFI image linker" FORCE)
set(CMAKE_AR ${UEFI_ARCHIVER} CACHE FILEPATH "archiver for CMake's compiler probe" FORCE)

# The probe must not try to link: there is no runtime to link a test program against.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# No red zone: interrupts in firmware run on the interrupted stack. No stack probes: there
# is no __chkstk. Statics need no guard: firmware is single-threaded.
set(CMAKE_CXX_FLAGS_INIT
  "--target=x86_64-unknown-windows -ffreestanding -fno-exceptions -fno-rtti -mno-red-zone -mno-stack-arg-probe -fshort-wchar -fno-threadsafe-statics -fno-stack-protector -O2 -g -gcodeview")

set(CMAKE_CXX_LINK_EXECUTABLE
  "<CMAKE_LINKER> /nologo <LINK_FLAGS> <OBJECTS> /out:<TARGET> <LINK_LIBRARIES>")
# Relocatable, debuggable and self-contained: base relocations, a PDB named by a CodeView
# entry, and no default libraries (the image must import nothing).
set(CMAKE_EXE_LINKER_FLAGS_INIT
  "/nodefaultlib /machine:x64 /entry:_ModuleEntryPoint /dynamicbase /fixed:no /debug:full /opt:ref /opt:icf")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
