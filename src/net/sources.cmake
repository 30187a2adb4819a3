list(APPEND MIREL_CORE_net
    ${CMAKE_CURRENT_LIST_DIR}/WinHttpEx.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HttpText.cpp
    ${CMAKE_CURRENT_LIST_DIR}/UrlEncode.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WebAddress.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TrackingService.cpp)
