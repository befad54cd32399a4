# cmake -DBUILD_DIR=... -DPREFIX=... [-DMANPAGE=...] -DICON_SIZES="16;22;..." -P checkinstall.cmake
# Installs the build under PREFIX, then checks that every file a user needs is there (each
# icon at its size), that nothing only the Debian package holds came along, that the
# desktop entry passes desktop-file-validate and runs the program itself, and that man
# renders the manual page with each option on a line of its own.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
    RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

set(expected bin/velo-recovery bin/velo-carve share/applications/velo-recovery.desktop
    share/icons/hicolor/scalable/apps/velo-recovery.svg share/man/man1/velo-recovery.1.gz)
if(MANPAGE)
    list(APPEND expected share/man/man1/velo-carve.1.gz)
endif()
foreach(size IN LISTS ICON_SIZES)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/velo-recovery.png)
endforeach()
foreach(file IN LISTS expected)
    if(NOT EXISTS ${PREFIX}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

# A PNG's width and height are the two big-endian words after its signature and the
# IHDR chunk's length and type (bytes 16 to 23).
foreach(size IN LISTS ICON_SIZES)
    file(READ ${PREFIX}/share/icons/hicolor/${size}x${size}/apps/velo-recovery.png header
        OFFSET 16 LIMIT 8 HEX)
    string(SUBSTRING ${header} 0 8 w)
    string(SUBSTRING ${header} 8 8 h)
    math(EXPR width "0x${w}")
    math(EXPR height "0x${h}")
    if(NOT width EQUAL size OR NOT height EQUAL size)
        message(FATAL_ERROR "the ${size}x${size} icon is ${width}x${height}")
    endif()
endforeach()

if(EXISTS ${PREFIX}/share/polkit-1 OR EXISTS ${PREFIX}/share/doc/velo-recovery)
    message(FATAL_ERROR "a plain install took the Debian package's own files")
endif()
file(STRINGS ${PREFIX}/share/applications/velo-recovery.desktop exec REGEX "^Exec=")
if(NOT exec STREQUAL "Exec=velo-recovery")
    message(FATAL_ERROR "the desktop entry of a plain install says ${exec}")
endif()

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
            ${PREFIX}/share/man/man1/velo-carve.1.gz
        RESULT_VARIABLE status OUTPUT_VARIABLE page ERROR_VARIABLE warnings)
    foreach(part "SOURCE OUTDIR" "OPTIONS" "EXAMPLES" "NOTES" "SEE ALSO")
        if(NOT page MATCHES "${part}")
            message(FATAL_ERROR "the manual page lacks \"${part}\":\n${page}")
        endif()
    endforeach()
    # Each option stands alone on its line, its meaning indented below it, as help2man
    # renders an option set apart by two blanks; run together, the meaning follows the
    # option on the same line.
    foreach(option "--sector-size N" "--cluster-size N" "--gap-window M" "-q, --quiet")
        if(NOT page MATCHES "\n       ${option}\n")
            message(FATAL_ERROR "the manual page runs \"${option}\" into its meaning:\n${page}")
        endif()
    endforeach()
endif()
file(REMOVE_RECURSE ${PREFIX})
