list(APPEND MIREL_UI_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/Resources.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PageFactory.h
    ${CMAKE_CURRENT_LIST_DIR}/PageFactory.cpp
    ${CMAKE_CURRENT_LIST_DIR}/GuiMessageBox.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WebPageDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/WebPageDlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AboutDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/AboutDlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MirelHelperView.h
    ${CMAKE_CURRENT_LIST_DIR}/MirelHelperView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainFrame.h
    ${CMAKE_CURRENT_LIST_DIR}/MainFrame.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MirelHelperApp.h
    ${CMAKE_CURRENT_LIST_DIR}/MirelHelperApp.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SingleInstance.h
    ${CMAKE_CURRENT_LIST_DIR}/SingleInstance.cpp)
