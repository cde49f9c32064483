# Takes the debug data out of the installed programs and libraries (21 MB,
# most of it in libstdc++) and keeps it beside the build, one .debug file
# each, linked from its binary for a debugger reading a crash report.
#   cmake -DSTAGE=<folder> -DDEBUG=<folder> -DSTRIP=<strip> -DOBJCOPY=<objcopy> \
#         -P strip_debug_data.cmake
file(GLOB_RECURSE binaries ${STAGE}/*.exe ${STAGE}/*.dll)
file(MAKE_DIRECTORY ${DEBUG})
foreach(binary ${binaries})
    get_filename_component(name ${binary} NAME)
    set(debug ${DEBUG}/${name}.debug)
    execute_process(COMMAND ${OBJCOPY} --only-keep-debug ${binary} ${debug}
                    COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND ${STRIP} --strip-debug ${binary} COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND ${OBJCOPY} --add-gnu-debuglink=${debug} ${binary}
                    WORKING_DIRECTORY ${DEBUG} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
