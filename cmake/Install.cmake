# `cmake --install` lays out the transfer component for other CMake projects:
#   lib/            webcopy, platform and framework (static)
#   include/        their public headers
#   share/webcopy/  the resources a program must link in (webcopy.rc and the clips)
#   lib/cmake/webcopy/  the package: find_package(webcopy) gives webcopy::webcopy
include(CMakePackageConfigHelpers)
include(GNUInstallDirs)

install(TARGETS webcopy platform framework EXPORT webcopyTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES src/framework/Application.h src/framework/Component.h src/framework/DateTime.h
              src/framework/Exceptions.h src/framework/Forms.h src/framework/Strings.h
              src/framework/Thread.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/framework)
install(FILES src/platform/Platform.h src/platform/NetTypes.h src/platform/Owned.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/platform)
install(FILES src/webcopy/WebCopy.h src/webcopy/WebCopyErrors.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/webcopy)
install(FILES resources/webcopy.rc resources/download.avi resources/upload.avi
              resources/loginbanner.bmp
        DESTINATION ${CMAKE_INSTALL_DATADIR}/webcopy)

install(EXPORT webcopyTargets NAMESPACE webcopy::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/webcopy)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/webcopyConfig.cmake.in [[
@PACKAGE_INIT@
include(CMakeFindDependencyMacro)
find_dependency(Threads)
include("${CMAKE_CURRENT_LIST_DIR}/webcopyTargets.cmake")
# The resource script with the clips and the login banner; add it to the program's sources.
set(webcopy_RESOURCE_SCRIPT "@PACKAGE_CMAKE_INSTALL_DATADIR@/webcopy/webcopy.rc")
]])
configure_package_config_file(${CMAKE_CURRENT_BINARY_DIR}/webcopyConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/webcopyConfig.cmake
                              INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/webcopy
                              PATH_VARS CMAKE_INSTALL_DATADIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/webcopyConfigVersion.cmake
                                 VERSION 2.1.0 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/webcopyConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/webcopyConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/webcopy)
