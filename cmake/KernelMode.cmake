# Flags for code that runs in the Windows kernel: the driver and the freestanding core and record
# parser compiled for it. Freestanding, plus no static initialisation guards, no atexit and no
# stack probes or canaries (the kernel provides none of them).
set(HARVESTA_DDK_INCLUDE ${CMAKE_FIND_ROOT_PATH}/include/ddk)

function(harvesta_kernel_mode target)
  target_include_directories(${target} SYSTEM PRIVATE ${HARVESTA_DDK_INCLUDE})
  target_compile_definitions(${target} PRIVATE
    _KERNEL_MODE=1 NTDDI_VERSION=0x06010000 _WIN32_WINNT=0x0601 HARVESTA_KERNEL=1
    __INTRINSIC_DEFINED_InterlockedBitTestAndSet __INTRINSIC_DEFINED_InterlockedBitTestAndReset)
  harvesta_freestanding(${target})
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-threadsafe-statics -fno-use-cxa-atexit>
    -fno-stack-protector -mno-stack-arg-probe)
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
    # x64 keeps .pdata/.xdata (the kernel unwinds through them); x86 has no use for .eh_frame.
    target_compile_options(${target} PRIVATE -fno-asynchronous-unwind-tables)
  endif()
endfunction()

# A kernel-mode driver image (.sys): native subsystem, imports from ntoskrnl and HAL only.
function(harvesta_add_kernel_driver target)
  add_executable(${target} ${ARGN})
  set_target_properties(${target} PROPERTIES SUFFIX ".sys" PREFIX "")
  harvesta_kernel_mode(${target})
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(entry DriverEntry)
  else()
    set(entry _DriverEntry@8)   # stdcall decoration on x86
  endif()
  target_link_options(${target} PRIVATE -nostdlib -nostartfiles
    -Wl,--subsystem,native -Wl,--entry,${entry}
    -Wl,--image-base,0x10000 -Wl,--file-alignment,0x200 -Wl,--section-alignment,0x1000
    -Wl,--dynamicbase -Wl,--nxcompat)
  target_link_libraries(${target} PRIVATE ntoskrnl hal gcc)
endfunction()
