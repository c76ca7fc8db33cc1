# Release builds (presets windows-release, linux-release): the programs are shipped stripped,
# with their debug information kept beside them in the build tree, and installed into the
# layout of their package, which CPack makes (scripts/package.sh).

option(VESPERLIN_SPLIT_DEBUG
       "Move the debug information of the shipped programs into NAME.debug files beside them" OFF)

# vesperlin_ship(TARGET OUT): OUT is set to the file to install. With VESPERLIN_SPLIT_DEBUG it
# is a stripped copy in build/<preset>/ship/ that keeps a debug link to NAME.debug beside it,
# which holds the debug information: a debugger given that folder finds it, while the shipped
# file stays small. The program in the build tree itself keeps everything.
set(VESPERLIN_SHIP_DIR ${CMAKE_BINARY_DIR}/ship)
function(vesperlin_ship target out)
    if(NOT VESPERLIN_SPLIT_DEBUG)
        set(${out} $<TARGET_FILE:${target}> PARENT_SCOPE)
        return()
    endif()
    if(NOT CMAKE_OBJCOPY)
        message(FATAL_ERROR "VESPERLIN_SPLIT_DEBUG needs objcopy (CMAKE_OBJCOPY is not set)")
    endif()
    get_target_property(name ${target} OUTPUT_NAME)
    if(NOT name)
        set(name ${target})
    endif()
    set(file ${name}${CMAKE_EXECUTABLE_SUFFIX})
    file(MAKE_DIRECTORY ${VESPERLIN_SHIP_DIR})
    # Run in the ship folder: the link names the debug file alone, without a build path.
    add_custom_command(OUTPUT ${VESPERLIN_SHIP_DIR}/${file} ${VESPERLIN_SHIP_DIR}/${file}.debug
        COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${file}.debug
        COMMAND ${CMAKE_OBJCOPY} --strip-all --remove-section=.comment --add-gnu-debuglink=${file}.debug
                $<TARGET_FILE:${target}> ${file}
        DEPENDS ${target}
        WORKING_DIRECTORY ${VESPERLIN_SHIP_DIR}
        COMMENT "Stripping ${file}, its debug information kept in ship/${file}.debug"
        VERBATIM)
    set_property(GLOBAL APPEND PROPERTY VESPERLIN_SHIPPED ${VESPERLIN_SHIP_DIR}/${file})
    set(${out} ${VESPERLIN_SHIP_DIR}/${file} PARENT_SCOPE)
endfunction()

set(VESPERLIN_MAN_PAGE ${PROJECT_SOURCE_DIR}/docs/vesperlin-cli.1)

if(WIN32)
    # The zip: the programs and the language library in its top folder, beside README and LICENSE.
    foreach(program vesperlin vesperlin-cli)
        if(TARGET ${program})
            vesperlin_ship(${program} shipped)
            install(PROGRAMS ${shipped} DESTINATION . COMPONENT vesperlin)
        endif()
    endforeach()
    if(TARGET Vesperlin407)
        install(PROGRAMS $<TARGET_FILE:Vesperlin407> DESTINATION . COMPONENT vesperlin)
    endif()
    install(FILES README.md DESTINATION . COMPONENT vesperlin)
    install(FILES LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT vesperlin)

    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_NAME vesperlin)
    set(CPACK_PACKAGE_FILE_NAME vesperlin-${PROJECT_VERSION}-win64)
    # Unpacked, the files stand in a folder named as the zip.
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
elseif(TARGET vesperlin-cli)
    include(GNUInstallDirs)
    vesperlin_ship(vesperlin-cli shipped)
    install(PROGRAMS ${shipped} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT vesperlin-cli)

    set(doc ${CMAKE_INSTALL_DATADIR}/doc/vesperlin-cli)
    set(staged ${CMAKE_BINARY_DIR}/packaging)
    install(FILES packaging/debian/copyright DESTINATION ${doc} COMPONENT vesperlin-cli)
    install(FILES packaging/bash-completion/vesperlin-cli
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT vesperlin-cli)

    # Debian wants the man page and the changelog compressed, and reproducibly so (gzip -n: no
    # name or time stamp inside).
    find_program(VESPERLIN_GZIP gzip REQUIRED)
    configure_file(packaging/debian/changelog.in ${staged}/source/changelog @ONLY)
    set(compressed "")
    foreach(file ${staged}/source/changelog ${VESPERLIN_MAN_PAGE})
        if(NOT EXISTS ${file})
            continue()
        endif()
        get_filename_component(name ${file} NAME)
        add_custom_command(OUTPUT ${staged}/${name}.gz
            COMMAND ${CMAKE_COMMAND} -E copy ${file} ${staged}/${name}
            COMMAND ${VESPERLIN_GZIP} -9nf ${staged}/${name}
            DEPENDS ${file} VERBATIM)
        list(APPEND compressed ${staged}/${name}.gz)
    endforeach()
    install(FILES ${staged}/changelog.gz DESTINATION ${doc} COMPONENT vesperlin-cli)
    # The man page is written apart from the program. The build goes on without it, but a
    # package without it is no release: installing (and so CPack) stops with the reason.
    # A man page added later is seen by the next build: the folder's time changes.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs)
    if(EXISTS ${VESPERLIN_MAN_PAGE})
        install(FILES ${staged}/vesperlin-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
                COMPONENT vesperlin-cli)
    else()
        install(CODE "message(FATAL_ERROR \"${VESPERLIN_MAN_PAGE} is missing: the package of vesperlin-cli carries its man page\")"
                COMPONENT vesperlin-cli)
    endif()
    set_property(GLOBAL APPEND PROPERTY VESPERLIN_SHIPPED ${compressed})

    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGE_NAME vesperlin-cli)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME vesperlin-cli_${PROJECT_VERSION}_amd64.deb)
    set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Vesperlin developers <developers@vesperlin.org>")
    set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vesperlin.org/")
    set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "show which running processes use a file or folder")
    # The summary is the synopsis; this is the long description below it (lines of 79 at most).
    string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
        "vesperlin-cli lists every process that has a file open, mapped into its\n"
        "memory, loaded as its program or one of its libraries, or as its current or\n"
        "root folder; for a folder, the processes using any of its direct entries.\n"
        "It reads /proc and only reads: it never closes, unloads or ends anything.\n"
        "Files are matched by device and inode, so links, bind mounts and deleted\n"
        "files that are still open are found too.")
    # Depends from the libraries the binary really links (dpkg-shlibdeps).
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
        OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()

get_property(shippedFiles GLOBAL PROPERTY VESPERLIN_SHIPPED)
if(shippedFiles)
    add_custom_target(vesperlin_ship ALL DEPENDS ${shippedFiles})
endif()

set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Vesperlin developers")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES OFF)  # stripped already, and the debug links must stay
include(CPack)
