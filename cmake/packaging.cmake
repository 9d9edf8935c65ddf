# Where `cmake --install` puts the programs and what they ship, as Debian expects them, and the .deb CPack makes
# of that (scripts/package). The programs look for their data files beside them first, then in
# ../share/halvard from their folder, so the same files serve a build folder and an installed system.
include(GNUInstallDirs)

install(TARGETS halvard RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES $<TARGET_FILE_DIR:halvard>/FileSetting.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/halvard)
install(FILES docs/man/halvard.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES docs/man/halvard.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME halvard)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(TARGET halvard-gui)
  install(TARGETS halvard-gui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES src/app/resources/how-it-works.html DESTINATION ${CMAKE_INSTALL_DATADIR}/halvard)
  install(FILES src/app/resources/halvard.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES src/app/resources/halvard.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES docs/man/halvard-gui.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME halvard)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Halvard Disk Recovery developers <developers@halvard.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recover files from virtual hard-disk images")
set(CPACK_PACKAGE_DESCRIPTION
  "Reads VHDX, VHD, VDI, VMDK, qcow2 and raw disk images through their block maps, finds their volumes and \
reads NTFS, FAT, exFAT, ext2/3/4 and HFS+ with their deleted entries; saves files and folders with their time \
stamps, carves files by signature and exports the disk as a raw image. Never writes to the image.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The shared libraries the programs link (Qt, zlib, zstd, OpenSSL) become the package's dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt finds its display plugins (xcb, wayland) in a package of their own.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_STRIP_FILES ON)
include(CPack)
