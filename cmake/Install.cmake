# What `cmake --install` puts in place, and the release kit that cpack makes
# of its component "zlbtool": on Linux the Debian package, in the Windows
# build a zip (scripts/package makes both).
#
#   bin/zlbtool (zlbtool.exe), and in the Windows build bin/KVUpdater.exe
#   the stub that zlbtool updater takes by default, and wait.exe beside it
#   (KV_STUB_INSTALL_DIR): bin/ beside zlbtool.exe, or on Linux, when the
#     build made them (cmake/StubBuild.cmake), share/zlbtool/
#   on Linux the manual page (share/man/man1/zlbtool.1.gz), bash completion
#     (share/bash-completion/completions/zlbtool) and share/doc/zlbtool
#     (copyright, changelog.gz); in the Windows build the README
#   the archive component for other projects (component "development"):
#     include/konvoro/zlb/   the reader's headers: #include <konvoro/zlb/ZLIBArchive.h>
#     include/konvoro/       the platform layer's headers that they include
#     lib/                   their static libraries
#     lib/cmake/KonvoroZLB/  the package: find_package(KonvoroZLB CONFIG)
#                            gives the target KonvoroZLB::archive
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS zlbtool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT zlbtool)
if(TARGET KVUpdater)
  install(PROGRAMS $<TARGET_PROPERTY:KVUpdater,KVUPDATER_FILE>
          DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT updater)
endif()
if(KV_UPDATER_STUB AND TARGET ${KV_UPDATER_STUB})
  install(TARGETS ${KV_UPDATER_STUB} RUNTIME DESTINATION ${KV_STUB_INSTALL_DIR} COMPONENT zlbtool)
elseif(KV_PACKAGED_STUB)
  install(FILES ${KV_PACKAGED_STUB} DESTINATION ${KV_STUB_INSTALL_DIR} COMPONENT zlbtool)
endif()
if(TARGET kvwait)
  install(TARGETS kvwait RUNTIME DESTINATION ${KV_STUB_INSTALL_DIR} COMPONENT zlbtool)
elseif(KV_PACKAGED_WAIT)
  install(FILES ${KV_PACKAGED_WAIT} DESTINATION ${KV_STUB_INSTALL_DIR} COMPONENT zlbtool)
endif()

# The documents of the package, from packaging/. Debian wants the manual
# page and the changelog compressed at the highest level, without a time
# in the header (gzip -9n).
set(kv_packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT zlbtool)
else()
  # The changelog's latest entry is the project's version.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${kv_packaging_dir}/changelog)
  file(STRINGS ${kv_packaging_dir}/changelog kv_changelog_top LIMIT_COUNT 1)
  if(NOT kv_changelog_top MATCHES "^zlbtool \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog: its latest entry, '${kv_changelog_top}', is not "
                        "version ${PROJECT_VERSION} (project() in CMakeLists.txt)")
  endif()
  set(kv_documents ${CMAKE_BINARY_DIR}/packaging)
  configure_file(${kv_packaging_dir}/zlbtool.1 ${kv_documents}/zlbtool.1 @ONLY)
  set(kv_compressed)
  foreach(document zlbtool.1 changelog)
    if(document STREQUAL "changelog")
      set(source ${kv_packaging_dir}/changelog)
    else()
      set(source ${kv_documents}/${document})
    endif()
    add_custom_command(OUTPUT ${kv_documents}/${document}.gz
                       COMMAND sh -c "gzip -9n <\"$1\" >\"$2\"" gzip ${source}
                               ${kv_documents}/${document}.gz
                       DEPENDS ${source} VERBATIM)
    list(APPEND kv_compressed ${kv_documents}/${document}.gz)
  endforeach()
  add_custom_target(zlbtool_documents ALL DEPENDS ${kv_compressed})
  # What installs zlbtool installs its documents too.
  add_dependencies(zlbtool zlbtool_documents)
  install(FILES ${kv_documents}/zlbtool.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT zlbtool)
  install(FILES ${kv_packaging_dir}/zlbtool.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME zlbtool
          COMPONENT zlbtool)
  install(FILES ${kv_packaging_dir}/copyright ${kv_documents}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zlbtool COMPONENT zlbtool)
endif()

# The component: the reader (kvarchive) and the platform layer beneath it,
# without the writer and without anything of the tests.
set(kv_package KonvoroZLB)
set(kv_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/${kv_package})
set(kv_include_dir ${CMAKE_INSTALL_INCLUDEDIR})
set_target_properties(kvarchive PROPERTIES EXPORT_NAME archive)
set_target_properties(kvplatform PROPERTIES EXPORT_NAME platform)
# Its headers use C++20; a consumer compiles them so too.
set_property(TARGET kvplatform APPEND PROPERTY INTERFACE_COMPILE_FEATURES cxx_std_20)
# Libraries built with the sanitizers need their runtimes wherever they are
# linked.
if(KV_SANITIZE)
  set_property(TARGET kvplatform APPEND PROPERTY INTERFACE_LINK_OPTIONS
               $<INSTALL_INTERFACE:-fsanitize=address,undefined>)
endif()
# Release builds optimise at link time, and GCC's objects then hold only its
# intermediate form; the installed libraries carry machine code beside it,
# so that a project linking without that optimisation can use them.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set_property(TARGET kvarchive kvplatform APPEND PROPERTY COMPILE_OPTIONS
               $<$<CONFIG:Release>:-ffat-lto-objects>)
endif()
install(TARGETS kvarchive kvplatform EXPORT ${kv_package}Targets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        INCLUDES DESTINATION ${kv_include_dir})
# The reader's headers and the platform layer's that they include (none of
# its win32/ part), each below konvoro/ as in the tree, so that no installed
# header is reachable by a bare generic name such as Files.h.
set(kv_archive_headers ArchiveMessages.h CRC32.h ZLBFormat.h ZLBReader.h ZLIBArchive.h)
set(kv_platform_headers Component.h Exceptions.h Files.h OSError.h Streams.h StringList.h Text.h
                        UniqueHandle.h)
list(TRANSFORM kv_archive_headers PREPEND ${PROJECT_SOURCE_DIR}/archive/include/konvoro/zlb/)
list(TRANSFORM kv_platform_headers PREPEND ${PROJECT_SOURCE_DIR}/platform/include/konvoro/)
install(FILES ${kv_archive_headers} DESTINATION ${kv_include_dir}/konvoro/zlb
        COMPONENT development)
install(FILES ${kv_platform_headers} DESTINATION ${kv_include_dir}/konvoro COMPONENT development)
install(EXPORT ${kv_package}Targets NAMESPACE ${kv_package}:: DESTINATION ${kv_package_dir}
        COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/${kv_package}Config.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/${kv_package}Config.cmake
                              INSTALL_DESTINATION ${kv_package_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/${kv_package}ConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${kv_package}Config.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/${kv_package}ConfigVersion.cmake
        DESTINATION ${kv_package_dir} COMPONENT development)

# The release kit: `cpack` in the build tree writes, on Linux, the Debian
# package zlbtool_<version>_<architecture>.deb, and in the Windows build
# zlbtool-<version>-win32.zip. Binaries are stripped as they are packed.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL zlbtool)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME zlbtool)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_ARCHIVE_ZLBTOOL_FILE_NAME zlbtool-${PROJECT_VERSION}-win32)
  # Unpacked, it makes a folder of that name.
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
else()
  set(KV_PACKAGE_MAINTAINER "Konvoro updater team <updater@konvoro.example>" CACHE STRING
      "The Maintainer field of the Debian package")
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_ZLBTOOL_PACKAGE_NAME zlbtool)
  set(CPACK_DEBIAN_ZLBTOOL_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KV_PACKAGE_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # The architecture comes from dpkg, the dependencies from dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_COMPONENT_ZLBTOOL_DESCRIPTION
      "packs, lists, tests and extracts ZLB archives and Konvoro updaters\n"
      "zlbtool reads the ZLB archives that the Konvoro updater (KVUpdater.exe)\n"
      "carries, also inside the updater itself, and shows what an updater is:\n"
      "its version, requested execution level, signature and payload.")
  if(KV_PACKAGED_STUB)
    list(APPEND CPACK_COMPONENT_ZLBTOOL_DESCRIPTION
         "\nWith the updater stub and wait.exe it carries, it makes updaters of\n"
         "release folders.")
  endif()
  string(JOIN "" CPACK_COMPONENT_ZLBTOOL_DESCRIPTION ${CPACK_COMPONENT_ZLBTOOL_DESCRIPTION})
  include(CPack)
endif()
