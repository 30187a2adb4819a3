list(APPEND MIREL_CORE_platform
    ${CMAKE_CURRENT_LIST_DIR}/TextCodec.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DataDirectory.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PrivateFiles.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Endpoints.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MessageBox.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Clock.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Launcher.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AbortScope.cpp
    ${CMAKE_CURRENT_LIST_DIR}/OneShot.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Workers.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Log.cpp)
