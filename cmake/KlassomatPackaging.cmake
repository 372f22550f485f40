# Installs klassomat as a desktop program and packages it as a Debian .deb (README: Installing).
include(GNUInstallDirs)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(app_id de.klassomat.klassomat)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/klassomat)

# Debian wants manual pages and changelogs compressed, reproducibly (-n: no name, no time).
find_program(GZIP gzip REQUIRED)
foreach(file klassomat.1 changelog)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/${file}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
    COMMAND ${GZIP} -9n -c ${PROJECT_SOURCE_DIR}/packaging/${file} > ${PROJECT_BINARY_DIR}/packaging/${file}.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/${file} VERBATIM)
endforeach()
# Built with the program, so that building klassomat is all that an install needs.
add_custom_target(packaging_files DEPENDS ${PROJECT_BINARY_DIR}/packaging/klassomat.1.gz ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_dependencies(klassomat packaging_files)

install(TARGETS klassomat RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# strip keeps the compiler's version note in .comment; Debian's own packages drop it too.
install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/klassomat\"
                  COMMAND_ERROR_IS_FATAL ANY)
endif()")
# The desktop entry bears the program's name, which the windows carry as their
# WM_CLASS and application id, so that desktops match window and entry.
install(FILES packaging/klassomat.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/${app_id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
set(icon_dir ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES resources/icons/klassomat.svg DESTINATION ${icon_dir}/scalable/apps)
# Drawn pixel by pixel for the small sizes, where a scaled-down SVG blurs.
foreach(size 16 24)
  install(FILES resources/icons/klassomat-${size}.png DESTINATION ${icon_dir}/${size}x${size}/apps RENAME klassomat.png)
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/packaging/klassomat.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# hauptfenster.png: the screenshot that the metainfo names.
install(FILES resources/Klassen.txt packaging/copyright packaging/hauptfenster.png ${PROJECT_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME klassomat)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "klassomat <klassomat@klassomat.de>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded as plugins, so dpkg-shlibdeps cannot see them: the SVG icon and Qt's German texts.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-liberation")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "enter school classes into the pupils' directory entries")
set(CPACK_PACKAGE_DESCRIPTION "klassomat finds every user below a directory container that the administrator
picks, takes the name of the container that holds each user (a school class,
such as Abi05a), optionally translates it through the class list Klassen.txt
into the real class designation (8a), and writes it into the user's OU
(Department) attribute. It works on an embedded LDIF directory and on LDAP
servers (OpenLDAP, 389-DS, Samba, Active Directory). Its interface is German.")
include(CPack)
