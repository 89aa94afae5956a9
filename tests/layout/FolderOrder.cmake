# The application's folders, top down: a folder includes only folders of a lower level, so the
# tree reads from the program down to the text and widget helpers and has no circles. Folders of
# one level stay apart from each other.
# Usage: cmake -DKESTRO_APP_DIR=<source>/Kestro -P FolderOrder.cmake
set(levels
    "program"
    "surfaces"
    "overlay pill palette mainwindow onboarding tray"
    "app"
    "replay text ui")

set(level 0)
foreach(folders ${levels})
    separate_arguments(folders)
    foreach(folder ${folders})
        set(level_of_${folder} ${level})
    endforeach()
    math(EXPR level "${level} + 1")
endforeach()

if(NOT IS_DIRECTORY "${KESTRO_APP_DIR}")
    message(FATAL_ERROR "No application folder at '${KESTRO_APP_DIR}'")
endif()
file(GLOB_RECURSE files RELATIVE "${KESTRO_APP_DIR}" "${KESTRO_APP_DIR}/*.h"
    "${KESTRO_APP_DIR}/*.cpp")
if(NOT files)
    message(FATAL_ERROR "No sources under '${KESTRO_APP_DIR}'")
endif()

set(faults "")
set(include_pattern "^[ \t]*#[ \t]*include[ \t]*\"Kestro/[^\"]*\"")
foreach(file ${files})
    string(REGEX MATCH "^[^/]+" from "${file}")
    file(STRINGS "${KESTRO_APP_DIR}/${file}" includes REGEX "${include_pattern}")
    foreach(line ${includes})
        string(REGEX MATCH "Kestro/[^\"]*" header "${line}")
        string(REGEX REPLACE "^Kestro/([^/]+)/.*" "\\1" to "${header}")
        if(to STREQUAL from)
            continue()
        endif()
        if(NOT DEFINED level_of_${from})
            list(APPEND faults "Kestro/${file}: ${from}/ has no place in the folder order")
        elseif(NOT DEFINED level_of_${to})
            list(APPEND faults
                "Kestro/${file} includes ${header}: ${to}/ has no place in the folder order")
        elseif(NOT level_of_${to} GREATER level_of_${from})
            list(APPEND faults "Kestro/${file} includes ${header}: ${to}/ is not below ${from}/")
        endif()
    endforeach()
endforeach()

if(faults)
    foreach(fault ${faults})
        message(NOTICE "${fault}")
    endforeach()
    list(LENGTH faults count)
    message(FATAL_ERROR "${count} includes against the folder order")
endif()
