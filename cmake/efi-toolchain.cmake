# Cross build of UEFI images: clang++ for the Windows x86-64 object format, linked by lld-link.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CXX_COMPILER clang++)

set(CMAKE_LINKER lld-link)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_EXECUTABLE_SUFFIX .efi)
set(CMAKE_CXX_LINK_EXECUTABLE
    "<CMAKE_LINKER> <LINK_FLAGS> <CMAKE_CXX_LINK_FLAGS> <OBJECTS> <LINK_LIBRARIES> /out:<TARGET>")
set(CMAKE_CXX_FLAGS_INIT
    "--target=x86_64-unknown-windows -ffreestanding -nostdlibinc -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables \
-fno-threadsafe-statics -fno-stack-protector -mno-red-zone -mno-stack-arg-probe \
-mno-mmx -mno-sse -mno-sse2")
