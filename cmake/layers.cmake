# The library's layers. Each folder is an OBJECT library whose link dependencies
# are the layering; a layer sees only the headers of its own folder and of the
# layers it depends on, through a folder of links made for it in the build tree
# (the source tree itself is on no include path), so a wrong-direction #include
# does not compile. Each layer's headers are also compiled on their own, in the
# layer's own view, so a header cannot lean on a layer above it either.

set(QMX_LAYER_VIEWS "${PROJECT_BINARY_DIR}/layer_headers")

# Makes the folder of links to the headers of <folder> for <target> and returns
# its path in <out_var>.
function(qmx_header_view target folder out_var)
  file(GLOB headers CONFIGURE_DEPENDS RELATIVE "${PROJECT_SOURCE_DIR}" "${PROJECT_SOURCE_DIR}/${folder}/*.h")
  set(view "${QMX_LAYER_VIEWS}/${target}")
  file(REMOVE_RECURSE "${view}")
  file(MAKE_DIRECTORY "${view}")
  foreach(header IN LISTS headers)
    get_filename_component(dir "${view}/${header}" DIRECTORY)
    file(MAKE_DIRECTORY "${dir}")
    file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${header}" "${view}/${header}" SYMBOLIC)
  endforeach()
  set(${out_var} "${view}" PARENT_SCOPE)
endfunction()

# qmx_add_layer(<target> FOLDER <folder> [DEPENDS <layers>...]
#               [PUBLIC_LIBS <targets>...] [PRIVATE_LIBS <targets>...] [OS_HEADERS])
# OS_HEADERS: the layer is a backend and its headers may expose OS headers.
function(qmx_add_layer target)
  cmake_parse_arguments(L "OS_HEADERS" "FOLDER" "DEPENDS;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${L_FOLDER}/*.cpp")
  file(GLOB headers CONFIGURE_DEPENDS RELATIVE "${PROJECT_SOURCE_DIR}" "${PROJECT_SOURCE_DIR}/${L_FOLDER}/*.h")
  add_library(${target} OBJECT ${sources})
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)

  qmx_header_view(${target} ${L_FOLDER} view)
  target_include_directories(${target} PUBLIC "$<BUILD_INTERFACE:${view}>")
  target_link_libraries(${target} PUBLIC ${L_DEPENDS} ${L_PUBLIC_LIBS} PRIVATE ${L_PRIVATE_LIBS})

  set_property(GLOBAL APPEND PROPERTY QMX_LAYERS ${target})
  # What the layer sees, its own folder aside: the layers it depends on and theirs.
  set(uses ${L_DEPENDS})
  foreach(dep IN LISTS L_DEPENDS)
    get_property(dep_uses GLOBAL PROPERTY QMX_LAYER_USES_${dep})
    list(APPEND uses ${dep_uses})
  endforeach()
  list(REMOVE_DUPLICATES uses)
  set_property(GLOBAL PROPERTY QMX_LAYER_USES_${target} ${uses})
  set_property(GLOBAL APPEND PROPERTY QMX_LAYER_LIBS ${L_PUBLIC_LIBS})
  set_property(GLOBAL APPEND PROPERTY QMX_LAYER_PRIVATE_LIBS ${L_PRIVATE_LIBS})

  # One generated source per header, built by default: the header compiles on
  # its own, twice in a row, and (outside a backend) drags in no OS header.
  set(check_sources "")
  foreach(header IN LISTS headers)
    string(MAKE_C_IDENTIFIER "${header}" check_name)
    set(check_source "${PROJECT_BINARY_DIR}/header_check/${check_name}.cpp")
    if(L_OS_HEADERS)
      set(os_check "")
    else()
      set(os_check [=[
#if defined(CURLINC_CURL_H) || defined(__CURL_CURL_H) || defined(_ICONV_H) || \
    defined(_CRYPT_H) || defined(_FCNTL_H) || defined(_SYS_STAT_H) || \
    defined(_SYS_FILE_H) || defined(_DIRENT_H) || defined(_SYS_SOCKET_H) || defined(_WINDOWS_)
#error "this header exposes an OS header; keep OS headers in the backends' .cpp files"
#endif
]=])
    endif()
    file(CONFIGURE OUTPUT "${check_source}" @ONLY CONTENT "#include \"@header@\"
#include \"@header@\"
@os_check@")
    list(APPEND check_sources "${check_source}")
  endforeach()
  if(check_sources)
    add_library(${target}_header_check OBJECT ${check_sources})
    target_link_libraries(${target}_header_check PRIVATE ${target})
  endif()
endfunction()

# qmx_link_layers(<target> <PUBLIC|PRIVATE> <layers>...)
# A program or library above the layers links <layers> and what they use, and
# no other: it sees only their headers, so an include of any other layer does
# not compile, and only their objects, so a call into one does not link.
function(qmx_link_layers target scope)
  set(layers "")
  foreach(layer IN LISTS ARGN)
    get_property(uses GLOBAL PROPERTY QMX_LAYER_USES_${layer})
    list(APPEND layers ${layer} ${uses})
  endforeach()
  list(REMOVE_DUPLICATES layers)
  target_link_libraries(${target} ${scope} ${layers})
endfunction()
