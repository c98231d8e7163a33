# Fuzz targets of the importers: SFZ text and SF2 files, each through a whole
# import into a scratch folder. Included by CMakeLists.txt.
foreach(target fuzz_sfz fuzz_sf2)
    add_executable(${target} ${target}.cpp FuzzSupport.cpp)
    target_link_libraries(${target} PRIVATE OXImport OXSoundFont OXUtils OXAudio Qt5::Core
        PkgConfig::SNDFILE)
    target_include_directories(${target} PRIVATE ${RAPIDXML_INCLUDE_DIR} ${PROJECT_SOURCE_DIR}/import)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    list(APPEND OXSF_FUZZ_TARGETS ${target})
endforeach()
target_sources(fuzz_make_seeds PRIVATE import_seeds.cpp)
