list(APPEND MIREL_CORE_monitor
    ${CMAKE_CURRENT_LIST_DIR}/VisitorListBridge.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ItemTitle.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SessionMan.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RefreshShop.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MonitorClientThread.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FlashOnlineClientThread.cpp)
