# Sources are globbed per concern; new files are picked up on the next
# configure. The exports live in the plug-in target alone.
file(GLOB SCP_RECORD_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/lib/*.cpp
  ${CMAKE_SOURCE_DIR}/lib/dbclient/*.cpp)
file(GLOB SCP_CODEC_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/scp/*.cpp)
list(REMOVE_ITEM SCP_CODEC_SOURCES ${CMAKE_SOURCE_DIR}/scp/exports.cpp)
