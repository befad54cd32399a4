# cmake -DBUILD_DIR=... -DPREFIX=... [-DMANPAGE=...] -P checkinstall.cmake
# Installs the build under PREFIX, then checks that every file a user needs is there, that
# the desktop entry passes desktop-file-validate and that man renders the manual page.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
    RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

set(expected bin/velo-recovery bin/velo-carve share/applications/velo-recovery.desktop
    share/icons/hicolor/32x32/apps/velo-recovery.png)
if(MANPAGE)
    list(APPEND expected share/man/man1/velo-carve.1)
endif()
foreach(file IN LISTS expected)
    if(NOT EXISTS ${PREFIX}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

find_program(VALIDATE desktop-file-validate)
if(VALIDATE)
    execute_process(COMMAND ${VALIDATE} ${PREFIX}/share/applications/velo-recovery.desktop
        RESULT_VARIABLE status OUTPUT_VARIABLE said ERROR_VARIABLE said)
    if(NOT status EQUAL 0 OR said MATCHES "error")
        message(FATAL_ERROR "desktop-file-validate: ${said}")
    endif()
endif()

find_program(MAN man)
if(MANPAGE AND MAN)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env MANWIDTH=80 ${MAN} -l
            ${PREFIX}/share/man/man1/velo-carve.1
        RESULT_VARIABLE status OUTPUT_VARIABLE page ERROR_VARIABLE warnings)
    foreach(part "SOURCE OUTDIR" "OPTIONS" "EXAMPLES" "NOTES" "SEE ALSO")
        if(NOT page MATCHES "${part}")
            message(FATAL_ERROR "the manual page lacks \"${part}\":\n${page}")
        endif()
    endforeach()
endif()
file(REMOVE_RECURSE ${PREFIX})
