# 32-bit x86 Linux build with the host's multilib g++: the same type sizes,
# pointer width and integer wrap as the shipped 32-bit DLL, on code the test
# suites can run natively. No 32-bit GoogleTest is packaged, so the tests
# build it from Debian's sources (SCP_GTEST_FROM_SOURCE).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
# Keep 64-bit packages (libpng, benchmark) out of the link.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)
set(SCP_GTEST_FROM_SOURCE ON CACHE BOOL "Build GoogleTest from /usr/src/googletest")

# Some kernels are built without 32-bit support: run the tests under qemu-user
# there (scripts/deps.sh installs it for the m32 leg).
set(_scp_probe ${CMAKE_CURRENT_BINARY_DIR}/scp-m32-probe)
execute_process(COMMAND sh -c "echo 'int main(void){return 0;}' | cc -m32 -x c - -o '${_scp_probe}' && '${_scp_probe}'"
                RESULT_VARIABLE _scp_native OUTPUT_QUIET ERROR_QUIET)
if(NOT _scp_native EQUAL 0)
  find_program(SCP_QEMU_I386 qemu-i386 REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SCP_QEMU_I386})
endif()
