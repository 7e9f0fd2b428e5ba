# DrInstall.cmake: what `cmake --install` puts under the prefix, and the export set that
# find_package(dr) reads.
#
#   lib/libdr.a (and every library added with dr_install_library), include/dr/*.h,
#   lib/cmake/dr/{drConfig,drConfigVersion,drTargets}.cmake (targets dr::<name>),
#   lib/pkgconfig/<name>.pc for every library, bin/drtool, and the component dr::TavEncoder:
#   lib/libTavEncoder.so (bin/ and lib/ on Windows) with include/TavEncoder/IMyEncoder.h and
#   the com_layer.h it includes.
#
# A library target joins the package with one line in its own CMakeLists.txt:
#
#   dr_install_library(dr_json HEADERS dr_json.h)    # -> dr::dr_json, include/dr/dr_json.h
#   dr_install_library(dr_compile HEADERS dr_compile.h PKGCONFIG_LIBS -lexpat)
#
# PKGCONFIG_LIBS are what a static link of the library needs besides dr itself.
#
# Nothing is installed unless everything is: before the first file is copied, the install
# checks that every target it installs has been built (dr_install_check), so an install from
# a build that made only some targets fails at once and leaves the prefix as it was.
# Its include directories must name the source tree as a build interface only, for example
# target_include_directories(dr_json PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>); the
# installed include directory comes from here. A library that links a package found with
# find_package (expat, RapidJSON) adds the matching find_dependency to cmake/drConfig.cmake.in.
include(CMakePackageConfigHelpers)

set(DR_INSTALL_CMAKEDIR lib/cmake/dr)

# Installs a library target into the export set drTargets, as dr::<target>, with its public
# headers (paths relative to the calling directory) in include/dr.
function(dr_install_library target)
  cmake_parse_arguments(ARG "" "" "HEADERS;PKGCONFIG_LIBS" ${ARGN})
  install(TARGETS ${target} EXPORT drTargets
          ARCHIVE DESTINATION lib LIBRARY DESTINATION lib RUNTIME DESTINATION bin
          INCLUDES DESTINATION include)
  if(ARG_HEADERS)
    install(FILES ${ARG_HEADERS} DESTINATION include/dr)
  endif()
  dr_install_check(${target})
  # A pkg-config file that finds its prefix from where it lies, so the tree can be moved.
  set(PC_NAME ${target})
  if(target STREQUAL "dr")
    set(PC_DESCRIPTION "Typelib-driven record codec (static library; C programs link the C++ runtime too)")
    set(PC_REQUIRES "")
    set(PC_LIBS " -lstdc++ -lm")
  else()
    set(PC_DESCRIPTION "${target}, a part of the dr record codec (static library)")
    set(PC_REQUIRES "Requires: dr = ${PROJECT_VERSION}\n")
    string(JOIN " " PC_LIBS "" ${ARG_PKGCONFIG_LIBS})
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/dr.pc.in ${PROJECT_BINARY_DIR}/pkgconfig/${target}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${target}.pc DESTINATION lib/pkgconfig)
endfunction()

# Adds a target to what the install checks is built before it copies anything.
function(dr_install_check target)
  set_property(GLOBAL APPEND PROPERTY DR_INSTALLED_TARGETS ${target})
endfunction()

# Called once, before any directory adds install rules: the check runs first.
function(dr_install_preflight)
  install(CODE "include(\"${PROJECT_BINARY_DIR}/dr_install_check.cmake\")")
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
  if(TARGET TavEncoder)
    # dr::TavEncoder: the component with its client headers' include directory.
    install(TARGETS TavEncoder EXPORT drTargets LIBRARY DESTINATION lib RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
    if(TARGET TavCom)  # its error objects and BSTRs outside Windows
      install(TARGETS TavCom EXPORT drTargets LIBRARY DESTINATION lib)
      dr_install_check(TavCom)
    endif()
    install(FILES ${PROJECT_SOURCE_DIR}/component/IMyEncoder.h ${PROJECT_SOURCE_DIR}/component/com_layer.h
            DESTINATION include/TavEncoder)
    dr_install_check(TavEncoder)
  endif()

  # The check that dr_install_preflight runs: every installed target's file must exist.
  # DR_INSTALL_ASSUME_MISSING (cmake -DDR_INSTALL_ASSUME_MISSING=x -P cmake_install.cmake)
  # makes it fail as a missing file would, for the install test.
  get_property(targets GLOBAL PROPERTY DR_INSTALLED_TARGETS)
  set(files "")
  foreach(t IN LISTS targets)
    string(APPEND files "  \"$<TARGET_FILE:${t}>\"\n")
  endforeach()
  file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/dr_install_check.cmake CONTENT
"# Generated: refuses to install before every installed target is built.
set(dr_missing \"\${DR_INSTALL_ASSUME_MISSING}\")
foreach(f
${files})
  if(NOT EXISTS \"\${f}\")
    list(APPEND dr_missing \"\${f}\")
  endif()
endforeach()
if(dr_missing)
  list(JOIN dr_missing \"\n  \" dr_missing)
  message(FATAL_ERROR \"nothing installed: these are not built yet:\n  \${dr_missing}\nBuild everything first: cmake --build ${PROJECT_BINARY_DIR}\")
endif()
")
endfunction()
