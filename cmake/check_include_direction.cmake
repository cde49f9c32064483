# Fails when an include runs back up the house: window -> quiz -> services,
# and the answer history beside the window. Both libraries take the project
# root as include root, so the build alone would not notice.
#   cmake -DROOT=<source folder> -P check_include_direction.cmake
set(above_services quiz window history)
set(above_quiz window history)
set(wrong 0)
foreach(folder services quiz)
    file(GLOB sources ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
    foreach(source ${sources})
        file(STRINGS ${source} includes REGEX "^#include \"")
        foreach(line ${includes})
            foreach(above ${above_${folder}})
                if(line MATCHES "^#include \"${above}/")
                    message(SEND_ERROR "${source}: ${line} runs from ${folder} up to ${above}")
                    math(EXPR wrong "${wrong} + 1")
                endif()
            endforeach()
        endforeach()
    endforeach()
endforeach()
if(wrong EQUAL 0)
    message(STATUS "every include runs one way: window -> quiz -> services")
endif()
