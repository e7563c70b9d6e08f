# The Debian package: `cpack` in the build folder (or `cmake --build build --target package`)
# writes build/clipvane_<version>_<arch>.deb from the same install rules as `cmake --install`,
# with the prefix /usr. Installing the package registers Clipvane for every user of the machine
# (packaging/debian/postinst); removing it takes exactly that registration away again (prerm,
# postrm). See docs/package.md.

set(clipvane_package_dir "${PROJECT_SOURCE_DIR}/packaging/debian")

# Debian wants a copyright file and a compressed changelog in the package's own doc folder (the
# one the documents go to, CLIPVANE_INSTALL_DOCDIR); the
# changelog is compressed without a name or time stamp, so the package is the same on every run.
configure_file("${clipvane_package_dir}/changelog.in" "${PROJECT_BINARY_DIR}/packaging/changelog" @ONLY)
set(clipvane_changelog "${PROJECT_BINARY_DIR}/packaging/changelog.gz")
add_custom_command(OUTPUT "${clipvane_changelog}"
    COMMAND gzip -9nc "${PROJECT_BINARY_DIR}/packaging/changelog" > "${clipvane_changelog}"
    DEPENDS "${PROJECT_BINARY_DIR}/packaging/changelog"
    COMMENT "Compressing the package's changelog")
add_custom_target(clipvane_package_files ALL DEPENDS "${clipvane_changelog}")
install(FILES "${clipvane_package_dir}/copyright" "${clipvane_changelog}" DESTINATION "${CLIPVANE_INSTALL_DOCDIR}")

# The software centres' description of Clipvane (AppStream), for the desktop entry that
# registration writes; its release is the project's version, dated as the package's changelog.
set(CLIPVANE_RELEASE_DATE "2026-12-09")
set(clipvane_metainfo "${PROJECT_BINARY_DIR}/packaging/org.tavrelo.clipvane.metainfo.xml")
configure_file("${PROJECT_SOURCE_DIR}/packaging/org.tavrelo.clipvane.metainfo.xml.in" "${clipvane_metainfo}" @ONLY)
install(FILES "${clipvane_metainfo}" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

# What a package (an installation staged with DESTDIR into the prefix /usr) holds beyond the
# install rules:
# - a link that offers our extension to Chromium: Debian's chromium loads every unpacked extension
#   in /usr/share/chromium/extensions (its /etc/chromium.d/extensions), as the distribution's own
#   webext-* packages use it;
# - our Firefox add-on, unpacked in the folder named by its id under Firefox's system extensions
#   (Firefox's application id names the folder above it): Debian's firefox-esr is built to load
#   unsigned add-ons of that scope, and enables them in every profile (docs/package.md);
# - the folders that the machine-wide registration writes its files into, so that dpkg removes
#   those it made once they are empty again.
install(CODE "
    if(NOT \"\$ENV{DESTDIR}\" STREQUAL \"\" AND CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
        set(root \"\$ENV{DESTDIR}\")
        file(MAKE_DIRECTORY \"\${root}/usr/share/chromium/extensions\")
        file(CREATE_LINK \"../../clipvane/extension/chromium\" \"\${root}/usr/share/chromium/extensions/clipvane\" SYMBOLIC)
        file(COPY \"${PROJECT_BINARY_DIR}/browser/extension/firefox/\"
             DESTINATION \"\${root}/${CLIPVANE_FIREFOX_SYSTEM_EXTENSIONS}/${CLIPVANE_FIREFOX_EXTENSION_ID}\")
        foreach(folder etc/chromium/native-messaging-hosts usr/lib/mozilla/native-messaging-hosts
                usr/share/applications usr/share/mime/packages
                usr/share/icons/hicolor/16x16/apps usr/share/icons/hicolor/16x16/mimetypes
                usr/share/icons/hicolor/32x32/apps usr/share/icons/hicolor/32x32/mimetypes)
            file(MAKE_DIRECTORY \"\${root}/\${folder}\")
        endforeach()
    endif()
")

# The maintainer scripts name the installed library.
set(clipvane_package_prefix "/usr")
foreach(script postinst prerm postrm)
    configure_file("${clipvane_package_dir}/${script}.in" "${PROJECT_BINARY_DIR}/packaging/${script}" @ONLY
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "clipvane")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Tavrelo")
set(CPACK_PACKAGE_CONTACT "Clipvane developers <clipvane@tavrelo.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "collects text selected in web pages into collection files")
set(CPACK_PACKAGING_INSTALL_PREFIX "${clipvane_package_prefix}")
set(CPACK_INSTALL_PREFIX "${clipvane_package_prefix}")
set(CPACK_STRIP_FILES ON)
# Staged through DESTDIR: the install rules then leave the registration to the package.
set(CPACK_SET_DESTDIR ON)
set(CPACK_OUTPUT_FILE_PREFIX "${PROJECT_BINARY_DIR}")

set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_NAME "clipvane")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# CPack puts the summary before these lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Clipvane collects pieces of text that you select in web pages, with their
source address, title, date and your comment, into collection files (*.t-q),
each a tree of folders. A viewer lets you browse, sort, filter, edit, move,
search, print, import, export and mail them, and a browser extension for
Chromium and Firefox grabs the selected text from the context menu.")
# The libraries the programs link come from dpkg-shlibdeps; the rest is what they run: the X11
# platform plugin of Qt, and xdg-utils for mail and for opening files outside the program.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2, shared-mime-info, desktop-file-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "chromium | firefox-esr")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_BINARY_DIR}/packaging/postinst" "${PROJECT_BINARY_DIR}/packaging/prerm"
    "${PROJECT_BINARY_DIR}/packaging/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
