# What a Debian system expects of the installed tool beyond its programs (a
# manual page for each, the copyright and changelog under /usr/share/doc, a
# desktop entry with its icon) and the fields of its Debian package. Kept
# apart from the build so that a Windows build never meets it.

set(R9_PACKAGE_MAINTAINER "R9 update maintainers <maintainers@r9-update.example>"
    CACHE STRING "Maintainer field of the Debian package")

# The manual pages are made from the programs' own --help when they are
# built, so that a page never tells another story than the program. That
# runs the programs built: not by default where they cannot run here or
# run under the sanitizers.
find_program(R9_HELP2MAN help2man)
if(R9_HELP2MAN AND NOT R9_SANITIZE AND NOT CMAKE_CROSSCOMPILING)
    set(r9_manpages_default ON)
else()
    set(r9_manpages_default OFF)
endif()
option(R9_MANPAGES "Make and install the manual pages from --help (needs help2man)" ${r9_manpages_default})
if(R9_MANPAGES AND NOT R9_HELP2MAN)
    message(FATAL_ERROR "R9_MANPAGES needs help2man (apt-get install help2man)")
endif()

set(r9_packaging ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(r9_packaging_out ${CMAKE_CURRENT_BINARY_DIR}/packaging)

if(R9_MANPAGES)
    set(r9_manpages)
    foreach(entry "r9-update|maintenance tool for R9 instruments over FTP"
                  "r9-instrument-sim|stand-in for an R9 instrument's FTP service on 127.0.0.1")
        string(REPLACE "|" ";" entry "${entry}")
        list(GET entry 0 program)
        list(GET entry 1 summary)
        # The instrument's address of this very build goes into its page.
        configure_file(${r9_packaging}/${program}.h2m.in ${r9_packaging_out}/${program}.h2m @ONLY)
        set(page ${r9_packaging_out}/${program}.1.gz)
        add_custom_command(OUTPUT ${page}
            COMMAND sh ${r9_packaging}/make-manpage.sh ${R9_HELP2MAN} $<TARGET_FILE:${program}>
                    ${summary} ${r9_packaging_out}/${program}.h2m ${page}
            DEPENDS ${program} ${r9_packaging}/make-manpage.sh ${r9_packaging_out}/${program}.h2m
            COMMENT "Making the manual page of ${program}"
            VERBATIM)
        list(APPEND r9_manpages ${page})
    endforeach()
    add_custom_target(r9-manpages ALL DEPENDS ${r9_manpages})
    install(FILES ${r9_manpages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The changelog of a native package is /usr/share/doc/<package>/changelog.gz,
# compressed without a name or time stamp so that the package is the same
# from one build to the next.
add_custom_command(OUTPUT ${r9_packaging_out}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${r9_packaging}/changelog ${r9_packaging_out}/changelog
    COMMAND gzip -9nf ${r9_packaging_out}/changelog
    DEPENDS ${r9_packaging}/changelog
    VERBATIM)
add_custom_target(r9-changelog ALL DEPENDS ${r9_packaging_out}/changelog.gz)
install(FILES ${r9_packaging}/copyright ${r9_packaging_out}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_PACKAGE_NAME})

install(FILES ${r9_packaging}/r9-update.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/ftp.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps
        RENAME r9-update.png)

set(CPACK_GENERATOR "DEB")
# Read here rather than named in CPACK_PACKAGE_DESCRIPTION_FILE: cpack
# escapes that file for XML, and the apostrophes would reach the package
# as "&apos;".
file(READ ${r9_packaging}/description.txt CPACK_DEBIAN_PACKAGE_DESCRIPTION)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${R9_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The release build carries no debug information; its symbol tables only
# add size, so they are not shipped.
set(CPACK_STRIP_FILES ON)
# Control files with mode 0644 or 0755, whatever the umask of the one who
# runs cpack. The folders cpack makes follow the umask all the same, which
# is why scripts/build-deb.sh runs it with umask 022.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
