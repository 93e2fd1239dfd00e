# What `cmake --install` puts under the prefix, as Linux camera libraries lay it out:
#   bin/bxgrab                          the command-line host
#   lib/lib*.so                         the platform, driver, store and view libraries, and the
#                                       control module libRIROVoruzarUZ.so that hosts load
#   include/{bxplatform,kvcam,bxmm,bxview,bxcamera}/   the public C and C++ headers
#   lib/cmake/bxgrab/                   a CMake package: find_package(bxgrab) gives
#                                       bxgrab::bxplatform, bxgrab::kvcamdriver,
#                                       bxgrab::bx_mm40 and bxgrab::bx_view
#   lib/pkgconfig/{kvcam,bx_mm40}.pc    pkg-config files of the driver and store C APIs
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(BX_LIBRARIES bxplatform kvcamdriver bx_mm40 bx_view)
foreach(lib ${BX_LIBRARIES})
  set_target_properties(${lib} PROPERTIES VERSION ${PROJECT_VERSION}
                                          SOVERSION ${PROJECT_VERSION_MAJOR})
endforeach()

install(TARGETS ${BX_LIBRARIES} EXPORT bxgrabTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS RIROVoruzarUZ LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(TARGET bxgrab)
  install(TARGETS bxgrab RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
foreach(dir platform/include driver/include host/store/include host/view/include sdk/include)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endforeach()

set(BX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/bxgrab)
install(EXPORT bxgrabTargets NAMESPACE bxgrab:: DESTINATION ${BX_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/bxgrabConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/bxgrabConfig.cmake
                              INSTALL_DESTINATION ${BX_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/bxgrabConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/bxgrabConfig.cmake
              ${PROJECT_BINARY_DIR}/bxgrabConfigVersion.cmake DESTINATION ${BX_CMAKE_DIR})

foreach(pc kvcam bx_mm40)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
