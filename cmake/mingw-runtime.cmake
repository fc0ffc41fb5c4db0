# The MinGW runtime DLLs that Qt for Windows and the programs built against it share, where the
# compiler finds them: VEK_MINGW_RUNTIME_DLLS.
set(VEK_MINGW_RUNTIME_DLLS)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "The MinGW runtime ${dll} was not found")
    endif()
    list(APPEND VEK_MINGW_RUNTIME_DLLS ${path})
endforeach()
