# As mingw-w64.cmake, with the MinGW runtime as DLLs: Qt for Windows and the programs built
# against it share one copy of libstdc++ (libstdc++-6.dll, libgcc_s_seh-1.dll,
# libwinpthread-1.dll), shipped beside them.
set(VEK_MINGW_SHARED_RUNTIME ON)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
