list(APPEND MIREL_CORE_iploc
    ${CMAKE_CURRENT_LIST_DIR}/IpAddressText.cpp
    ${CMAKE_CURRENT_LIST_DIR}/IpdbReader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/IpdbV4Table.cpp
    ${CMAKE_CURRENT_LIST_DIR}/IpLocator.cpp
    ${CMAKE_CURRENT_LIST_DIR}/QQwry.cpp)
