# `cmake --install`: the driver module, its public headers, a CMake package
# (find_package(Strandline) -> Strandline::strandline) and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set_target_properties(strandline_driver PROPERTIES EXPORT_NAME strandline)
target_include_directories(strandline_driver INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS strandline_driver EXPORT StrandlineTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/strandline DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(STRANDLINE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Strandline)
install(EXPORT StrandlineTargets NAMESPACE Strandline:: FILE StrandlineTargets.cmake
        DESTINATION ${STRANDLINE_CMAKE_DIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/StrandlineConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/StrandlineConfig.cmake INSTALL_DESTINATION ${STRANDLINE_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/StrandlineConfigVersion.cmake COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/StrandlineConfig.cmake ${CMAKE_BINARY_DIR}/StrandlineConfigVersion.cmake
        DESTINATION ${STRANDLINE_CMAKE_DIR})

# Relative to the .pc file, so that `cmake --install --prefix DIR` stays right.
file(RELATIVE_PATH STRANDLINE_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" STRANDLINE_PC_TO_PREFIX "${STRANDLINE_PC_TO_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/strandline.pc.in ${CMAKE_BINARY_DIR}/strandline.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/strandline.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
