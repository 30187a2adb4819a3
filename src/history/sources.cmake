list(APPEND MIREL_CORE_history
    ${CMAKE_CURRENT_LIST_DIR}/HistoryStatements.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HistoryUpkeep.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ListReader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CsvExport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/XlsxExport.cpp)
list(APPEND MIREL_UI_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ListExport.h
    ${CMAKE_CURRENT_LIST_DIR}/ListExport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HistoryDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/HistoryDlg.cpp)
