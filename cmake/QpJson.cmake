# nlohmann's JSON library (header-only, Debian's nlohmann-json3-dev) as the target qp_json.
# Only its own folder is exposed, through a link in the build tree: the cross builds must not
# see the host's /usr/include, whose other headers are Linux's.
set(QP_NLOHMANN_JSON_DIR /usr/include/nlohmann CACHE PATH "nlohmann's JSON headers")
if(NOT EXISTS ${QP_NLOHMANN_JSON_DIR}/json.hpp)
  message(FATAL_ERROR "no ${QP_NLOHMANN_JSON_DIR}/json.hpp: scripts/bootstrap installs it")
endif()
set(QP_JSON_INCLUDE_DIR ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${QP_JSON_INCLUDE_DIR})
file(CREATE_LINK ${QP_NLOHMANN_JSON_DIR} ${QP_JSON_INCLUDE_DIR}/nlohmann SYMBOLIC)
add_library(qp_json INTERFACE)
target_include_directories(qp_json SYSTEM INTERFACE ${QP_JSON_INCLUDE_DIR})
