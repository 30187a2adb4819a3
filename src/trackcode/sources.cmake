list(APPEND MIREL_CORE_trackcode
    ${CMAKE_CURRENT_LIST_DIR}/TrackingSnippet.cpp)
list(APPEND MIREL_UI_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/MakeCodeDlg.cpp)
