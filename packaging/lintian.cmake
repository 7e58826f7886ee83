# CPack's post-build script: lintian checks each .deb just made. An error or a warning fails the packaging (the
# .deb is still written, to be looked at); informational tags are shown but fail nothing. Without lintian the
# check is left out with a note.
find_program(LINTIAN lintian)
if(NOT LINTIAN)
    message(STATUS "lintian is not installed: the package is not checked")
    return()
endif()
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
    if(NOT deb MATCHES "\\.deb$")
        continue()
    endif()
    message(STATUS "lintian ${deb}")
    execute_process(COMMAND ${LINTIAN} --fail-on error,warning --display-info ${deb} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "lintian: errors or warnings in ${deb}")
    endif()
endforeach()
