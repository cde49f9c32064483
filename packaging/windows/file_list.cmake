# Writes the uninstaller's part of the NSIS script: a Delete for every file
# of the installed folder, then an RMDir for each of its sub-folders.
#   cmake -DSTAGE=<folder> -DOUT=<file.nsh> -P file_list.cmake
file(GLOB_RECURSE files RELATIVE ${STAGE} ${STAGE}/*)
file(GLOB_RECURSE folders LIST_DIRECTORIES true RELATIVE ${STAGE} ${STAGE}/*)
list(REMOVE_ITEM folders ${files})
list(SORT folders ORDER DESCENDING)
set(lines "")
foreach(file ${files})
    string(REPLACE "/" "\\" file ${file})
    string(APPEND lines "Delete \"$INSTDIR\\${file}\"\n")
endforeach()
foreach(folder ${folders})
    string(REPLACE "/" "\\" folder ${folder})
    string(APPEND lines "RMDir \"$INSTDIR\\${folder}\"\n")
endforeach()
file(WRITE ${OUT} "${lines}")
