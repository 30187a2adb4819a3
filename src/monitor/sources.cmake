list(APPEND MIREL_CORE_monitor
    ${CMAKE_CURRENT_LIST_DIR}/VisitorListBridge.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ItemTitle.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SessionMan.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AlertPolicy.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RefreshShop.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AccountLocks.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MonitorClientThread.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FlashOnlineClientThread.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TeamAlerts.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MonitorControl.cpp)
list(APPEND MIREL_UI_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ui/Explorer_showuserinfo.h
    ${CMAKE_CURRENT_LIST_DIR}/ui/Explorer_showuserinfo.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ui/ProfileCard.h
    ${CMAKE_CURRENT_LIST_DIR}/ui/ProfileCard.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ui/UserListDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/ui/UserListDlg.cpp)
