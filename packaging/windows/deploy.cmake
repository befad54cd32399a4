# Lays out the folder a Windows user gets: both programs, the Qt DLLs they load, Qt's
# windows platform plugin and style plugin, and the compiler's runtime DLLs that Qt's
# DLLs load (what Qt's windeployqt would put there), with a README and the licences of
# what it carries. Also writes the lists of files the NSIS installer installs and its
# uninstaller removes, file by file, so that the uninstaller removes nothing else.
#
# cmake -DDIST=folder -DPROGRAMS=a.exe;b.exe -DPLUGINS=platforms/qwindows.dll=path;...
#       -DSEARCH_DIRS=qt/bin -DOBJDUMP=x86_64-w64-mingw32-objdump -DREADME=README.txt
#       -DNOTICES=name=path;... -DINSTALL_LIST=install.nsh -DUNINSTALL_LIST=uninstall.nsh
#       -P deploy.cmake
cmake_minimum_required(VERSION 3.25)

# A folder left from an earlier build may hold files this one no longer ships.
file(REMOVE_RECURSE "${DIST}")
file(MAKE_DIRECTORY "${DIST}")

set(shipped "") # paths relative to DIST
set(binaries ${PROGRAMS})
foreach(program IN LISTS PROGRAMS)
    get_filename_component(name "${program}" NAME)
    file(COPY_FILE "${program}" "${DIST}/${name}" ONLY_IF_DIFFERENT)
    list(APPEND shipped "${name}")
endforeach()
foreach(entry IN LISTS PLUGINS)
    string(REGEX MATCH "^([^=]+)=(.+)$" _ "${entry}")
    set(relative "${CMAKE_MATCH_1}")
    get_filename_component(folder "${DIST}/${relative}" DIRECTORY)
    file(MAKE_DIRECTORY "${folder}")
    file(COPY_FILE "${CMAKE_MATCH_2}" "${DIST}/${relative}")
    list(APPEND binaries "${CMAKE_MATCH_2}")
    list(APPEND shipped "${relative}")
endforeach()

# The DLLs the programs and plugins load, and those these load in turn, as their import
# tables name them, found in Qt's bin folder (where its build put the compiler's runtime
# too). Windows' own DLLs are not there and are left out: every Windows has them.
# Windows matches DLL names without regard to case, so the lookup does too (CMake's
# file(GET_RUNTIME_DEPENDENCIES) does not find Qt6Core.dll on a Linux host).
set(available "")
foreach(folder IN LISTS SEARCH_DIRS)
    file(GLOB dlls "${folder}/*.dll")
    foreach(dll IN LISTS dlls)
        get_filename_component(name "${dll}" NAME)
        string(TOLOWER "${name}" name)
        if(NOT DEFINED "dll_${name}")
            set("dll_${name}" "${dll}")
            list(APPEND available "${name}")
        endif()
    endforeach()
endforeach()
set(found "")
set(pending ${binaries})
while(pending)
    list(POP_FRONT pending binary)
    execute_process(COMMAND "${OBJDUMP}" -p "${binary}" OUTPUT_VARIABLE dump
        RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "deploy.cmake: ${OBJDUMP} cannot read ${binary}")
    endif()
    string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
    foreach(import IN LISTS imports)
        string(REGEX REPLACE "^DLL Name: " "" name "${import}")
        string(STRIP "${name}" name)
        string(TOLOWER "${name}" name)
        if(DEFINED "dll_${name}" AND NOT "${dll_${name}}" IN_LIST found)
            list(APPEND found "${dll_${name}}")
            list(APPEND pending "${dll_${name}}")
        endif()
    endforeach()
endwhile()
foreach(dll IN LISTS found)
    get_filename_component(name "${dll}" NAME)
    file(COPY_FILE "${dll}" "${DIST}/${name}")
    list(APPEND shipped "${name}")
endforeach()

file(COPY_FILE "${README}" "${DIST}/README.txt")
list(APPEND shipped README.txt)
file(MAKE_DIRECTORY "${DIST}/licenses")
foreach(entry IN LISTS NOTICES)
    string(REGEX MATCH "^([^=]+)=(.+)$" _ "${entry}")
    file(COPY_FILE "${CMAKE_MATCH_2}" "${DIST}/licenses/${CMAKE_MATCH_1}")
    list(APPEND shipped "licenses/${CMAKE_MATCH_1}")
endforeach()

# NSIS lists: each file under its folder, Windows separators; folders removed deepest first.
list(SORT shipped)
set(install "")
set(uninstall "")
set(folders "")
set(current "")
foreach(relative IN LISTS shipped)
    get_filename_component(folder "${relative}" DIRECTORY)
    string(REPLACE "/" "\\" windows "${relative}")
    set(target "$INSTDIR")
    if(folder)
        string(REPLACE "/" "\\" target "$INSTDIR\\${folder}")
        list(APPEND folders "${target}")
    endif()
    if(NOT target STREQUAL current)
        string(APPEND install "SetOutPath \"${target}\"\n")
        set(current "${target}")
    endif()
    string(APPEND install "File \"${DIST}/${relative}\"\n")
    string(APPEND uninstall "Delete \"$INSTDIR\\${windows}\"\n")
endforeach()
list(REMOVE_DUPLICATES folders)
list(SORT folders ORDER DESCENDING)
foreach(folder IN LISTS folders)
    string(APPEND uninstall "RMDir \"${folder}\"\n")
endforeach()
file(WRITE "${INSTALL_LIST}" "${install}")
file(WRITE "${UNINSTALL_LIST}" "${uninstall}")

list(LENGTH shipped count)
message(STATUS "Windows folder: ${count} files in ${DIST}")
