list(APPEND MIREL_CORE_greet
    ${CMAKE_CURRENT_LIST_DIR}/Greeting.cpp
    ${CMAKE_CURRENT_LIST_DIR}/GreetingPolicy.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ClipboardOwner.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ClipboardReader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/XWindows.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ChatWindowSearch.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ImClient.cpp
    ${CMAKE_CURRENT_LIST_DIR}/GreetReason.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TeamGreetingQueue.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AutoSendMsgThread.cpp)
