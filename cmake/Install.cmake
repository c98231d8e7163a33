# What `cmake --install` puts in place: the libraries and headers (declared
# next to their targets), the oxsf tool, a CMake package giving OX::SoundFont,
# OX::Utils, OX::Audio, OX::Prof, OX::Synth and OX::Import (with OXSF_BUILD_IMPORT), and a
# pkg-config file.
include(CMakePackageConfigHelpers)

set_target_properties(OXSoundFont PROPERTIES EXPORT_NAME SoundFont)
set_target_properties(OXUtils PROPERTIES EXPORT_NAME Utils)
set_target_properties(OXAudio PROPERTIES EXPORT_NAME Audio)
set_target_properties(OXProf PROPERTIES EXPORT_NAME Prof)
set_target_properties(OXSynth PROPERTIES EXPORT_NAME Synth)
if(OXSF_BUILD_IMPORT)
    set_target_properties(OXImport PROPERTIES EXPORT_NAME Import)
endif()
if(OXSF_BUILD_TOOLS)
    install(TARGETS oxsf RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(OXSF_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/OXSoundFont)
install(EXPORT OXSoundFontTargets
    NAMESPACE OX::
    FILE OXSoundFontTargets.cmake
    DESTINATION ${OXSF_CMAKE_DIR})
configure_package_config_file(
    ${CMAKE_CURRENT_LIST_DIR}/OXSoundFontConfig.cmake.in
    ${PROJECT_BINARY_DIR}/OXSoundFontConfig.cmake
    INSTALL_DESTINATION ${OXSF_CMAKE_DIR})
write_basic_package_version_file(
    ${PROJECT_BINARY_DIR}/OXSoundFontConfigVersion.cmake
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMajorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/OXSoundFontConfig.cmake
    ${PROJECT_BINARY_DIR}/OXSoundFontConfigVersion.cmake
    DESTINATION ${OXSF_CMAKE_DIR})

# The .pc file finds its prefix relative to itself, so the tree can be
# installed anywhere (cmake --install --prefix) and still be right.
file(RELATIVE_PATH OXSF_PC_PREFIX_FROM_PCDIR
    /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" OXSF_PC_PREFIX_FROM_PCDIR "${OXSF_PC_PREFIX_FROM_PCDIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/oxsoundfont.pc.in
    ${PROJECT_BINARY_DIR}/oxsoundfont.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/oxsoundfont.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
