# harvesta_freestanding(target): code that must link where there is no C or C++ runtime (the
# Windows kernel) and is therefore built the same way in user mode: the core, the mount record's
# parser and the driver. No exceptions, no RTTI, no hosted library assumed by the compiler.
function(harvesta_freestanding target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti> -ffreestanding)
endfunction()
