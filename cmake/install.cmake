# Installation, `cmake --install BUILD [--prefix DIR]`: the programs, the
# patch bank, man pages made from the programs' --help, the bash completion
# of `tune`, and the synthesizer, the audio stream and the tune player as a
# library: headers, static archives, a pkg-config file (orb2k16) and a CMake
# package (find_package(orb2k16), targets orb2k16::synth, ::audio, ::player).
include(CMakePackageConfigHelpers)

# The library. Archive names carry the project's name, so they cannot clash
# with other libraries in a shared prefix.
set(ORB_LIBRARIES synth audio player)
foreach(lib ${ORB_LIBRARIES})
  set_target_properties(${lib} PROPERTIES OUTPUT_NAME orb2k16-${lib})
endforeach()
install(TARGETS ${ORB_LIBRARIES} EXPORT orb2k16Targets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/synth ${PROJECT_SOURCE_DIR}/audio ${PROJECT_SOURCE_DIR}/player
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orb2k16 FILES_MATCHING PATTERN "*.h")

set(ORB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/orb2k16)
install(EXPORT orb2k16Targets NAMESPACE orb2k16:: DESTINATION ${ORB_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/orb2k16Config.cmake.in
  ${PROJECT_BINARY_DIR}/orb2k16Config.cmake INSTALL_DESTINATION ${ORB_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/orb2k16ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/orb2k16Config.cmake ${PROJECT_BINARY_DIR}/orb2k16ConfigVersion.cmake
  DESTINATION ${ORB_CMAKE_DIR})

# The pkg-config file finds its prefix from where it lies, so the tree can be
# installed under any --prefix or DESTDIR.
file(RELATIVE_PATH ORB_PC_PREFIX_FROM_PCDIR /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
set(ORB_PC_DL "")
if(CMAKE_DL_LIBS)
  set(ORB_PC_DL -l${CMAKE_DL_LIBS})
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/orb2k16.pc.in ${PROJECT_BINARY_DIR}/orb2k16.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/orb2k16.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The programs and their data.
install(TARGETS tune RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/assets/bank/ DESTINATION ${CMAKE_INSTALL_DATADIR}/orb2k16/bank)
install(FILES ${PROJECT_SOURCE_DIR}/tools/completion/tune.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tune)
set(ORB_MAN_PROGRAMS tune)
if(ORB_BUILD_APP)
  install(TARGETS orb2k16 orb2k16-capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Both answer --help and --version before they open anything.
  list(APPEND ORB_MAN_PROGRAMS orb2k16 orb2k16-capture)
endif()

# Man pages, made at build time from each program's --help and --version
# (never a program that would open a window), when help2man is there.
find_program(ORB_HELP2MAN help2man)
if(CMAKE_CROSSCOMPILING)
  message(STATUS "Man pages: not made for a cross build (the programs cannot run here)")
elseif(NOT ORB_HELP2MAN)
  message(WARNING "help2man not found (scripts/deps.sh installs it): no man pages")
else()
  set(ORB_MAN_NAME_tune "inspect, render, play and build the tunes of the orb 2k16 synthesizer")
  set(ORB_MAN_COMMANDS_tune "inspect;render;play;build;import-midi")
  set(ORB_MAN_NAME_orb2k16 "a real-time audiovisual demo")
  set(ORB_MAN_NAME_orb2k16-capture "stills and videos of the orb 2k16 demo's scene")
  set(pages "")
  foreach(program ${ORB_MAN_PROGRAMS})
    set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${ORB_HELP2MAN} -DPROGRAM=$<TARGET_FILE:${program}>
              "-DNAME=${ORB_MAN_NAME_${program}}" "-DCOMMANDS=${ORB_MAN_COMMANDS_${program}}"
              -DOUTPUT=${page} -P ${PROJECT_SOURCE_DIR}/cmake/man_page.cmake
      DEPENDS ${program} ${PROJECT_SOURCE_DIR}/cmake/man_page.cmake
      COMMENT "Man page for ${program}" VERBATIM)
    list(APPEND pages ${page})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
