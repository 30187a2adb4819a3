# The list's rows and ordering rules need no widgets; the controls do.
list(APPEND MIREL_CORE_controls
    ${CMAKE_CURRENT_LIST_DIR}/TextRows.h
    ${CMAKE_CURRENT_LIST_DIR}/TextRows.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SortOrder.h
    ${CMAKE_CURRENT_LIST_DIR}/SortOrder.cpp)
list(APPEND MIREL_UI_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/AccessibleText.h
    ${CMAKE_CURRENT_LIST_DIR}/AccessibleText.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DialogKeys.h
    ${CMAKE_CURRENT_LIST_DIR}/OutsideText.h
    ${CMAKE_CURRENT_LIST_DIR}/OutsideText.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SortListCtrl.h
    ${CMAKE_CURRENT_LIST_DIR}/SortListCtrl.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TextScroller.h
    ${CMAKE_CURRENT_LIST_DIR}/TextScroller.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PictureEx.h
    ${CMAKE_CURRENT_LIST_DIR}/PictureEx.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TrueColorToolBar.h
    ${CMAKE_CURRENT_LIST_DIR}/TrueColorToolBar.cpp)
