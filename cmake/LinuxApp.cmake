# The Linux/desktop front end (Qt 6 Widgets).
find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets)

# The POSIX side of the portable core: program folder, INI files, code page, instance lock.
add_library(companymain_posix STATIC
  src/common/PublicFunction_posix.cpp
  src/common/UniqueFd_posix.cpp
  src/address/CodePage_posix.cpp
  src/app/CheckOutInfo_posix.cpp
  src/app/SessionName_posix.cpp
)
target_link_libraries(companymain_posix PUBLIC companymain_core PRIVATE companymain_warnings)

# The window and the desktop, shared by the program and its in-process tests.
add_library(companymain_qt STATIC
  src/app/Desktop_qt.cpp
  src/app/CompanyMain_qt.cpp
  src/app/CompanyMain_qt.h
)
set_target_properties(companymain_qt PROPERTIES AUTOMOC ON)
target_link_libraries(companymain_qt PUBLIC companymain_posix Qt6::Widgets PRIVATE companymain_warnings)

# libxcb, which Qt's xcb plugin is built on, to ask the X server before Qt does.
find_path(XCB_INCLUDE_DIR xcb/xcb.h REQUIRED)
find_library(XCB_LIBRARY xcb REQUIRED)
add_library(companymain_xcb INTERFACE)
target_include_directories(companymain_xcb SYSTEM INTERFACE ${XCB_INCLUDE_DIR})
target_link_libraries(companymain_xcb INTERFACE ${XCB_LIBRARY})

add_executable(CompanyMain src/app/main_qt.cpp src/app/Display_posix.cpp src/app/res/CompanyMain.qrc)
set_target_properties(CompanyMain PROPERTIES AUTORCC ON)
target_link_libraries(CompanyMain PRIVATE companymain_qt companymain_xcb companymain_warnings)
