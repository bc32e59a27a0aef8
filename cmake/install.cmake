# Installation: the library with its headers, the programs, a CMake package
# (find_package(QMXProd) -> QMXProd::qmxprod) and a pkg-config file (qmxprod).
# Included at the end of the top-level CMakeLists.txt, when every target exists.

include(CMakePackageConfigHelpers)

set(QMX_CMAKE_PACKAGE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/QMXProd")

# The public API: the control, the dispatch layer over its member table, the
# seam with the backend a host constructs, and what these headers include. The
# layout is kept because the headers include each other as "platform/platform.h".
set(QMX_PUBLIC_HEADERS
  control/xmlload.h control/dispatch.h control/member_table.h
  base/automation_error.h base/variant.h base/xml_text.h base/xml_wellformed.h
  platform/platform.h platform/file_platform.h platform/file_policy.h platform/file_system.h)
if(NOT WIN32)
  list(APPEND QMX_PUBLIC_HEADERS platform/posix/posix_platform.h platform/posix/drive_map.h)
endif()
foreach(header IN LISTS QMX_PUBLIC_HEADERS)
  get_filename_component(header_dir "${header}" DIRECTORY)
  install(FILES "${header}" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/qmxprod/${header_dir}"
          COMPONENT development)
endforeach()

# Only a shared build uses these: the soname changes with the major version.
set_target_properties(qmxprod PROPERTIES VERSION "${PROJECT_VERSION}"
                                         SOVERSION "${PROJECT_VERSION_MAJOR}")
install(TARGETS qmxprod EXPORT QMXProdTargets
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT development
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT runtime
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT runtime)

# Everything the install needs built, so a script can build just that.
add_custom_target(qmx_install_parts)
add_dependencies(qmx_install_parts qmxprod)
get_target_property(qmx_lib_type qmxprod TYPE)
foreach(program IN ITEMS qmxhost qmx-server)
  if(TARGET ${program})
    if(qmx_lib_type STREQUAL "SHARED_LIBRARY")
      # Installed programs find the shared library beside them, wherever the prefix is.
      file(RELATIVE_PATH lib_from_bin "/${CMAKE_INSTALL_BINDIR}" "/${CMAKE_INSTALL_LIBDIR}")
      set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/${lib_from_bin}")
    endif()
    install(TARGETS ${program} RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT runtime)
    add_dependencies(qmx_install_parts ${program})
  endif()
endforeach()

# Consumers of a static library link its private dependencies too; consumers
# of a shared one need only the public ones. Turn each link dependency into a
# find_dependency() for the CMake package and a module for pkg-config.
get_target_property(qmx_link_all qmxprod LINK_LIBRARIES)
get_target_property(qmx_link_public qmxprod INTERFACE_LINK_LIBRARIES)
if(NOT qmx_link_all)
  set(qmx_link_all "")
endif()
if(NOT qmx_link_public)
  set(qmx_link_public "")
endif()

set(QMX_CONFIG_DEPENDENCIES "")
set(QMX_PC_REQUIRES "")
set(QMX_PC_REQUIRES_PRIVATE "")
set(QMX_PC_LIBS_EXTRA "")
set(QMX_PC_LIBS_PRIVATE "")
foreach(dep IN LISTS qmx_link_all)
  if(dep IN_LIST qmx_link_public OR qmx_lib_type STREQUAL "STATIC_LIBRARY")
    set(consumer_links ON)
  else()
    set(consumer_links OFF)
  endif()
  set(pc_module "")
  set(pc_flag "")
  if(dep STREQUAL "pugixml::pugixml")
    set(pc_module pugixml)
    set(cmake_dep "find_dependency(pugixml)\n")
  elseif(dep STREQUAL "LibXml2::LibXml2")
    set(pc_module libxml-2.0)
    set(cmake_dep "find_dependency(LibXml2)\n")
  elseif(dep STREQUAL "CURL::libcurl")
    set(pc_module libcurl)
    set(cmake_dep "find_dependency(CURL)\n")
  elseif(dep STREQUAL "Threads::Threads")
    set(pc_flag "-pthread")
    set(cmake_dep "find_dependency(Threads)\n")
  elseif(dep MATCHES "^PkgConfig::(.+)$")
    # Our pkg_check_modules() prefixes are the module names in capitals.
    set(pc_prefix "${CMAKE_MATCH_1}")
    string(TOLOWER "${pc_prefix}" pc_module)
    set(cmake_dep
"if(NOT TARGET PkgConfig::${pc_prefix})
  find_dependency(PkgConfig)
  pkg_check_modules(${pc_prefix} QUIET IMPORTED_TARGET ${pc_module})
  if(NOT TARGET PkgConfig::${pc_prefix})
    set(QMXProd_FOUND FALSE)
    set(QMXProd_NOT_FOUND_MESSAGE \"QMXProd needs the pkg-config module ${pc_module}\")
    return()
  endif()
endif()
")
  else()
    message(WARNING "install: no package rule for qmxprod's link dependency '${dep}'; "
                    "installed consumers will miss it (extend cmake/install.cmake)")
    continue()
  endif()

  if(consumer_links)
    string(APPEND QMX_CONFIG_DEPENDENCIES "${cmake_dep}")
    if(pc_module)
      list(APPEND QMX_PC_REQUIRES ${pc_module})
    else()
      list(APPEND QMX_PC_LIBS_EXTRA ${pc_flag})
    endif()
  elseif(pc_module)
    list(APPEND QMX_PC_REQUIRES_PRIVATE ${pc_module})
  else()
    list(APPEND QMX_PC_LIBS_PRIVATE ${pc_flag})
  endif()
endforeach()
list(REMOVE_DUPLICATES QMX_PC_REQUIRES)
list(JOIN QMX_PC_REQUIRES ", " QMX_PC_REQUIRES)
list(JOIN QMX_PC_REQUIRES_PRIVATE ", " QMX_PC_REQUIRES_PRIVATE)
list(JOIN QMX_PC_LIBS_EXTRA " " QMX_PC_LIBS_EXTRA)
list(JOIN QMX_PC_LIBS_PRIVATE " " QMX_PC_LIBS_PRIVATE)

install(EXPORT QMXProdTargets NAMESPACE QMXProd:: DESTINATION "${QMX_CMAKE_PACKAGE_DIR}"
        COMPONENT development)
configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/QMXProdConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/QMXProdConfig.cmake"
  INSTALL_DESTINATION "${QMX_CMAKE_PACKAGE_DIR}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/QMXProdConfigVersion.cmake"
  VERSION "${PROJECT_VERSION}" COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/QMXProdConfig.cmake"
              "${PROJECT_BINARY_DIR}/QMXProdConfigVersion.cmake"
        DESTINATION "${QMX_CMAKE_PACKAGE_DIR}" COMPONENT development)

# The .pc file finds its prefix from its own location, so an install moved
# elsewhere (or made with cmake --install --prefix) still works.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(QMX_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  set(QMX_PC_PREFIX "\${pcfiledir}/..")
  string(REPLACE "/" ";" libdir_parts "${CMAKE_INSTALL_LIBDIR}")
  foreach(part IN LISTS libdir_parts)
    if(part)
      string(APPEND QMX_PC_PREFIX "/..")
    endif()
  endforeach()
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(QMX_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  set(QMX_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(QMX_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}/qmxprod")
else()
  set(QMX_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}/qmxprod")
endif()
configure_file("${CMAKE_CURRENT_LIST_DIR}/qmxprod.pc.in" "${PROJECT_BINARY_DIR}/qmxprod.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/qmxprod.pc"
        DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig" COMPONENT development)
