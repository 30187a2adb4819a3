list(APPEND MIREL_CORE_store
    ${CMAKE_CURRENT_LIST_DIR}/AdoConnection.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AdoRecordSet.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StoreTransaction.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StoreCopy.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Variant.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Schema.cpp
    ${CMAKE_CURRENT_LIST_DIR}/EventEx.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StoreConfig.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StoreReader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StoreStartup.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TeamListener.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TeamSchema.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TeamSession.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TeamStatement.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TeamStore.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TeamValue.cpp)
