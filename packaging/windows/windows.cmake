# The Windows program and its zip (`make package-windows`): kav-update.exe with the Qt libraries and plug-ins
# it loads, the compiler's runtime, the text database, the demo firmware for the simulated DC, and a README.
# Everything sits beside the program, where Windows and Qt look first, so it runs from any folder unzipped.
#
# kav-update.exe is a console program, so that --cli works in a command prompt; the window lets its console
# go when it was started from the desktop.
set_target_properties(kav-update PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_dependencies(kav-update text_database)

# The program's icon in Explorer and on its shortcuts, rendered from the scalable one in all the sizes Windows
# asks for.
enable_language(RC)
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_program(IMAGE_CONVERT convert REQUIRED)
set(KAV_ICON ${CMAKE_BINARY_DIR}/kav-update.ico)
add_custom_command(
    OUTPUT ${KAV_ICON}
    COMMAND ${RSVG_CONVERT} -w 256 -h 256 -o ${CMAKE_BINARY_DIR}/kav-update-256.png
            ${CMAKE_SOURCE_DIR}/packaging/org.kavdive.FirmwareUpdate.svg
    COMMAND ${IMAGE_CONVERT} ${CMAKE_BINARY_DIR}/kav-update-256.png -define icon:auto-resize=256,48,32,16
            ${KAV_ICON}
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/org.kavdive.FirmwareUpdate.svg
    VERBATIM)
# With it, the version resource (Explorer's Properties, Task Manager) and the manifest (Windows 10 and 11, DPI
# per monitor, long paths, no elevation).
set(CPACK_PACKAGE_VENDOR "KAV Firmware Update developers")
string(TIMESTAMP KAV_YEAR "%Y" UTC)
set(KAV_MANIFEST ${CMAKE_BINARY_DIR}/kav-update.manifest)
configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/kav-update.manifest ${KAV_MANIFEST} @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/kav-update.rc.in ${CMAKE_BINARY_DIR}/kav-update.rc @ONLY)
target_sources(kav-update PRIVATE ${CMAKE_BINARY_DIR}/kav-update.rc)
set_source_files_properties(${CMAKE_BINARY_DIR}/kav-update.rc PROPERTIES OBJECT_DEPENDS
                                                                     "${KAV_ICON};${KAV_MANIFEST}")

install(TARGETS kav-update RUNTIME DESTINATION .)
foreach(library Core Gui Widgets Sql PrintSupport)
    install(FILES $<TARGET_FILE:Qt6::${library}> DESTINATION .)
endforeach()
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
install(FILES $<TARGET_FILE:Qt6::QSQLiteDriverPlugin> DESTINATION sqldrivers)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)

# The runtime of the mingw-w64 compiler, which Qt's libraries and the program were built with.
foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    find_file(KAV_RUNTIME_${runtime} ${runtime} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
              PATHS /usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/x86_64-w64-mingw32/lib REQUIRED)
    install(FILES ${KAV_RUNTIME_${runtime}} DESTINATION .)
endforeach()

# The standard buttons (OK, Cancel, Yes, No) in the wizard's other four languages: Qt's own translations, the
# same files on every system. Qt looks for them in translations/ beside its libraries.
foreach(language de fr it es)
    install(FILES /usr/share/qt6/translations/qtbase_${language}.qm DESTINATION translations)
endforeach()

install(FILES ${CMAKE_BINARY_DIR}/FirmwareUpdate.lng ${KAV_HOST_BUILD}/KAV.1F.demo.FWR DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/windows/README.txt DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)

# Libraries as shipped carry their debugging symbols: half of the zip.
install(CODE "
    file(GLOB_RECURSE libraries \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/*.dll\")
    foreach(library \${libraries})
        execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded \"\${library}\" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()")

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME kav-update)
set(CPACK_PACKAGE_FILE_NAME kav-update-${PROJECT_VERSION}-windows-x64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
file(WRITE ${CMAKE_BINARY_DIR}/version.txt ${PROJECT_VERSION})
