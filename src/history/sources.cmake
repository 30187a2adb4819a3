list(APPEND MIREL_CORE_history
    ${CMAKE_CURRENT_LIST_DIR}/HistoryStatements.cpp
    ${CMAKE_CURRENT_LIST_DIR}/XlsxExport.cpp)
