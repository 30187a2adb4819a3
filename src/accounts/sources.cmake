list(APPEND MIREL_CORE_accounts
    ${CMAKE_CURRENT_LIST_DIR}/LiveSettings.cpp)
