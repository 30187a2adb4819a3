list(APPEND MIREL_CORE_monitor
    ${CMAKE_CURRENT_LIST_DIR}/VisitorListBridge.cpp)
