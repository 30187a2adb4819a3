list(APPEND MIREL_CORE_trackcode
    ${CMAKE_CURRENT_LIST_DIR}/TrackingSnippet.cpp)
