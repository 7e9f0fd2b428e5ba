# DrInstall.cmake: what `cmake --install` puts under the prefix, and the export set that
# find_package(dr) reads.
#
#   lib/libdr.a (and every library added with dr_install_library), include/dr/*.h,
#   lib/cmake/dr/{drConfig,drConfigVersion,drTargets}.cmake (targets dr::<name>),
#   lib/pkgconfig/dr.pc, bin/drtool, and the component dr::TavEncoder: lib/libTavEncoder.so
#   (bin/ and lib/ on Windows) with include/TavEncoder/IMyEncoder.h and the com_layer.h it
#   includes.
#
# A library target joins the package with one line in its own CMakeLists.txt:
#
#   dr_install_library(dr_json HEADERS dr_json.h)    # -> dr::dr_json, include/dr/dr_json.h
#
# Its include directories must name the source tree as a build interface only, for example
# target_include_directories(dr_json PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>); the
# installed include directory comes from here. A library that links a package found with
# find_package (expat, RapidJSON) adds the matching find_dependency to cmake/drConfig.cmake.in.
include(CMakePackageConfigHelpers)

set(DR_INSTALL_CMAKEDIR lib/cmake/dr)

# Installs a library target into the export set drTargets, as dr::<target>, with its public
# headers (paths relative to the calling directory) in include/dr.
function(dr_install_library target)
  cmake_parse_arguments(ARG "" "" "HEADERS" ${ARGN})
  install(TARGETS ${target} EXPORT drTargets
          ARCHIVE DESTINATION lib LIBRARY DESTINATION lib RUNTIME DESTINATION bin
          INCLUDES DESTINATION include)
  if(ARG_HEADERS)
    install(FILES ${ARG_HEADERS} DESTINATION include/dr)
  endif()
endfunction()

# Called once, after every directory has added its targets.
function(dr_install_package)
  install(EXPORT drTargets NAMESPACE dr:: DESTINATION ${DR_INSTALL_CMAKEDIR})
  if(TARGET dr_compile)
    set(DR_WITH_COMPILE 1)
  else()
    set(DR_WITH_COMPILE 0)
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/drConfig.cmake.in ${PROJECT_BINARY_DIR}/drConfig.cmake @ONLY)
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/drConfigVersion.cmake
                                   VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/drConfig.cmake ${PROJECT_BINARY_DIR}/drConfigVersion.cmake
          DESTINATION ${DR_INSTALL_CMAKEDIR})
  # The .pc file finds its prefix from where it lies, so the tree can be installed anywhere.
  configure_file(${PROJECT_SOURCE_DIR}/cmake/dr.pc.in ${PROJECT_BINARY_DIR}/dr.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/dr.pc DESTINATION lib/pkgconfig)

  if(TARGET TavEncoder)
    # dr::TavEncoder: the component with its client headers' include directory.
    install(TARGETS TavEncoder EXPORT drTargets LIBRARY DESTINATION lib RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
    if(TARGET TavCom)  # its error objects and BSTRs outside Windows
      install(TARGETS TavCom EXPORT drTargets LIBRARY DESTINATION lib)
    endif()
    install(FILES ${PROJECT_SOURCE_DIR}/component/IMyEncoder.h ${PROJECT_SOURCE_DIR}/component/com_layer.h
            DESTINATION include/TavEncoder)
  endif()
endfunction()
