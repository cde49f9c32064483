# Writes what the NSIS script needs to know of the installed folder: its size
# in KiB, for the list of apps, and the uninstaller's part, a Delete for
# every file then an RMDir for each of its sub-folders; and the installer's
# check that each file it replaces can be written.
#   cmake -DSTAGE=<folder> -DOUT=<file.nsh> -P describe_installed_folder.cmake
file(GLOB_RECURSE files RELATIVE ${STAGE} ${STAGE}/*)
file(GLOB_RECURSE folders LIST_DIRECTORIES true RELATIVE ${STAGE} ${STAGE}/*)
list(REMOVE_ITEM folders ${files})
list(SORT folders ORDER DESCENDING)
set(bytes 0)
set(lines "")
set(checks "")
foreach(file ${files})
    file(SIZE ${STAGE}/${file} size)
    math(EXPR bytes "${bytes} + ${size}")
    string(REPLACE "/" "\\" file ${file})
    string(APPEND lines "    Delete \"$INSTDIR\\${file}\"\n")
    string(APPEND checks "    !insertmacro CheckReplaceable \"$INSTDIR\\${file}\"\n")
endforeach()
foreach(folder ${folders})
    string(REPLACE "/" "\\" folder ${folder})
    string(APPEND lines "    RMDir \"$INSTDIR\\${folder}\"\n")
endforeach()
math(EXPR kib "(${bytes} + 1023) / 1024")
file(WRITE ${OUT} "!define INSTALLED_SIZE_KB ${kib}\n!macro DeleteInstalledFiles\n${lines}!macroend\n"
                 "!macro CheckInstalledFiles\n${checks}!macroend\n")
