list(APPEND MIREL_CORE_notify
    ${CMAKE_CURRENT_LIST_DIR}/OwnerNotifier.cpp)
