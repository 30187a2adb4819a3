list(APPEND MIREL_CORE_accounts
    ${CMAKE_CURRENT_LIST_DIR}/LiveSettings.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AdvancedSettings.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AccountStore.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TeamSettings.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AccountFlows.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Autorun.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SystemSettings.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WorkerSlot.cpp)
list(APPEND MIREL_UI_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ui/ConfigDlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ui/ConfigPageNames.h
    ${CMAKE_CURRENT_LIST_DIR}/ui/ConfigPageNames.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ui/AdvancedSettingDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/ui/AdvancedSettingDlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ui/TeamSettingDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/ui/TeamSettingDlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ui/UpDownCtrl.cpp)
