# The native Win32 front end: CompanyMain.exe, self-contained (static C++ runtime), talking
# only to DLLs that ship with Windows.
enable_language(RC)

set(COMPANYMAIN_WIN_DIR ${PROJECT_SOURCE_DIR}/src)

# Version numbers for the resource script, from the project's version.
set(COMPANYMAIN_VERSION_HEADER ${CMAKE_BINARY_DIR}/generated/CompanyMainVersion.h)
file(CONFIGURE OUTPUT ${COMPANYMAIN_VERSION_HEADER} CONTENT
"#define COMPANYMAIN_VERSION_COMMAS ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0
#define COMPANYMAIN_VERSION_TEXT \"${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0\"
")

# The platform parts of the core (program folder, profile reader, code page).
add_library(companymain_platform STATIC
  ${COMPANYMAIN_WIN_DIR}/common/PublicFunction_win.cpp
  ${COMPANYMAIN_WIN_DIR}/address/CodePage_win.cpp
)
target_link_libraries(companymain_platform PUBLIC companymain_core PRIVATE companymain_warnings)

add_executable(CompanyMain WIN32
  ${COMPANYMAIN_WIN_DIR}/app/main_win.cpp
  ${COMPANYMAIN_WIN_DIR}/app/CheckOutInfo_win.cpp
  ${COMPANYMAIN_WIN_DIR}/app/Desktop_win.cpp
  ${COMPANYMAIN_WIN_DIR}/app/CompanyMain_win.cpp
  ${COMPANYMAIN_WIN_DIR}/app/LoadingPicture_win.cpp
)

# The resource script compiles on its own: the warning flags our C++ targets carry are not
# options of the resource compiler.
add_library(companymain_resources OBJECT ${COMPANYMAIN_WIN_DIR}/app/res/CompanyMain.rc)
target_include_directories(companymain_resources PRIVATE ${COMPANYMAIN_WIN_DIR}
                           ${COMPANYMAIN_WIN_DIR}/app/res ${CMAKE_BINARY_DIR}/generated)
target_sources(CompanyMain PRIVATE $<TARGET_OBJECTS:companymain_resources>)
set_source_files_properties(${COMPANYMAIN_WIN_DIR}/app/res/CompanyMain.rc PROPERTIES
  OBJECT_DEPENDS "${COMPANYMAIN_WIN_DIR}/app/res/CompanyMain.ico;${COMPANYMAIN_WIN_DIR}/app/res/loading.gif;${COMPANYMAIN_WIN_DIR}/app/res/CompanyMain.manifest;${COMPANYMAIN_WIN_DIR}/app/Resources_win.h")

foreach(target companymain_platform CompanyMain)
  # Wide API throughout; no min/max macros.
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE NOMINMAX WINVER=0x0A00
                                                _WIN32_WINNT=0x0601)
endforeach()
target_link_libraries(CompanyMain PRIVATE companymain_platform companymain_warnings
                      gdiplus ole32 shell32 user32 gdi32 kernel32)
# wWinMain, no console, and no MinGW runtime DLLs beside the exe.
target_link_options(CompanyMain PRIVATE -municode -static -static-libgcc -static-libstdc++
                    $<$<NOT:$<CONFIG:Debug,RelWithDebInfo>>:-s>)

# The test tools of the Wine suite (tests/wine) are Windows programs as well.
option(COMPANYMAIN_WINE_TOOLS "Build the Windows test tools of the Wine suite" ON)
if(COMPANYMAIN_WINE_TOOLS)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/wine ${CMAKE_BINARY_DIR}/wine-tools)
endif()
