list(APPEND MIREL_CORE_stats
    ${CMAKE_CURRENT_LIST_DIR}/VisitStatistics.cpp)
list(APPEND MIREL_UI_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ui/StatisticsChartView.h
    ${CMAKE_CURRENT_LIST_DIR}/ui/StatisticsChartView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ui/StatisticsDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/ui/StatisticsDlg.cpp)
