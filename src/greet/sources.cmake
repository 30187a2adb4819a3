list(APPEND MIREL_CORE_greet
    ${CMAKE_CURRENT_LIST_DIR}/Greeting.cpp
    ${CMAKE_CURRENT_LIST_DIR}/GreetingPolicy.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ClipboardOwner.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ImClient.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TeamGreetingQueue.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AutoSendMsgThread.cpp)
