# The windows preset's toolchain: mingw-w64 (mingw-w64-x86_64.cmake), and with it Qt for
# Windows when scripts/build-qt-windows.sh has built it, so that the window is built too.
# Without that Qt the build has no windows, as before.
#
# VELO_QT_WINDOWS_PREFIX (cache or environment) names a Qt for Windows elsewhere, such
# as a copy moved to another folder; by default the build script says where its cache is.
set(_velo_mingw_toolchain "${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake")

set(_velo_qt_prefix "${VELO_QT_WINDOWS_PREFIX}")
if(NOT _velo_qt_prefix AND DEFINED ENV{VELO_QT_WINDOWS_PREFIX})
    set(_velo_qt_prefix "$ENV{VELO_QT_WINDOWS_PREFIX}")
endif()
if(NOT _velo_qt_prefix)
    execute_process(
        COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/../scripts/build-qt-windows.sh" --print-prefix
        OUTPUT_VARIABLE _velo_qt_prefix OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE _velo_qt_found ERROR_QUIET)
    if(NOT _velo_qt_found EQUAL 0)
        set(_velo_qt_prefix "")
    endif()
endif()

if(_velo_qt_prefix AND EXISTS "${_velo_qt_prefix}/lib/cmake/Qt6/qt.toolchain.cmake")
    # Qt's own toolchain file finds its packages inside its prefix (a plain toolchain
    # searches only the mingw root) and loads the mingw one first.
    set(QT_CHAINLOAD_TOOLCHAIN_FILE "${_velo_mingw_toolchain}")
    include("${_velo_qt_prefix}/lib/cmake/Qt6/qt.toolchain.cmake")
    set(VELO_QT_WINDOWS_BIN "${_velo_qt_prefix}/bin")
    # Under Wine the tests find Qt's DLLs (and the compiler's runtime beside them) through
    # WINEPATH. Wine hands no QT_* variable to a Windows program but passes WINEQT_* as
    # QT_*: the offscreen platform's fonts come from the IPA Gothic folder.
    set(CMAKE_CROSSCOMPILING_EMULATOR
        env "WINEPREFIX=${VELO_WINEPREFIX}" WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml="
        "WINEPATH=Z:${VELO_QT_WINDOWS_BIN}"
        "WINEQT_QPA_FONTDIR=Z:/usr/share/fonts/opentype/ipafont-gothic"
        ${VELO_WINE_LOADER})
else()
    include("${_velo_mingw_toolchain}")
    # A plain variable, which hides the cache's (the preset asks for the windows) and
    # which option() leaves alone: no windows without Qt.
    set(VELO_WITH_QT OFF)
endif()
unset(_velo_qt_found)
unset(_velo_qt_prefix)
unset(_velo_mingw_toolchain)
