# Sources of the static core library. New files are picked up on the next
# configure; the exports live in the plug-in target alone.
file(GLOB SCP_CORE_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/lib/*.cpp
  ${CMAKE_SOURCE_DIR}/lib/dbclient/*.cpp
  ${CMAKE_SOURCE_DIR}/scp/*.cpp)
list(REMOVE_ITEM SCP_CORE_SOURCES ${CMAKE_SOURCE_DIR}/scp/exports.cpp)
