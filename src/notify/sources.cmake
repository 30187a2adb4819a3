list(APPEND MIREL_CORE_notify
    ${CMAKE_CURRENT_LIST_DIR}/OwnerNotifier.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AlertSound.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StatusMessage.cpp)
list(APPEND MIREL_UI_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/TrayIcon.h
    ${CMAKE_CURRENT_LIST_DIR}/TrayIcon.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DesktopNotifier.h
    ${CMAKE_CURRENT_LIST_DIR}/DesktopNotifier.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ShowOneClientDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/ShowOneClientDlg.cpp)
