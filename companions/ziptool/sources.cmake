# The platform-neutral zip core, shared by ziptool.dll and the native tests.
set(ZIPTOOL_CORE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/zipwriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zipreader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/entryname.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zipstatus.cpp)
