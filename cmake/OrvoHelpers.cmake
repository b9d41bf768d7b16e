# orvo_library(NAME DEPS...): one static library from every source file of the current folder.
# An Qt object in a header is handled by AUTOMOC.
function(orvo_library name)
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    if(NOT sources)
        return()
    endif()
    add_library(${name} STATIC ${sources})
    set_target_properties(${name} PROPERTIES AUTOMOC ON AUTORCC ON)
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    # Project libraries are linked when they exist (a subsystem may not have sources yet).
    foreach(dep ${ARGN})
        if(dep MATCHES "^orvo_")
            target_link_libraries(${name} PUBLIC $<TARGET_NAME_IF_EXISTS:${dep}>)
        else()
            target_link_libraries(${name} PUBLIC ${dep})
        endif()
    endforeach()
endfunction()

# The project's folders as defaults of ORVO_SOURCE_DIR and ORVO_BINARY_DIR in a test program
# (support/TestEnvironment.h); ctest's ENVIRONMENT property carries only one variable through
# gtest_discover_tests.
function(orvo_test_environment name)
    target_compile_definitions(${name} PRIVATE
        ORVO_SOURCE_DIR_DEFAULT="${PROJECT_SOURCE_DIR}" ORVO_BINARY_DIR_DEFAULT="${PROJECT_BINARY_DIR}")
endfunction()

# orvo_test_folder(NAME [GUI] DEPS...): one GoogleTest program from every *.cpp of the current
# folder; GUI programs run a QApplication (offscreen), the others a QCoreApplication.
function(orvo_test_folder name)
    cmake_parse_arguments(ARG "GUI" "" "" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    if(NOT sources)
        return()
    endif()
    if(ARG_GUI)
        set(main ${PROJECT_SOURCE_DIR}/tests/support/GuiTestMain.cpp)
        list(APPEND ARG_UNPARSED_ARGUMENTS Qt6::Widgets)
    else()
        set(main ${PROJECT_SOURCE_DIR}/tests/support/TestMain.cpp)
    endif()
    add_executable(${name} ${sources} ${main})
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE orvo_test_support ${ARG_UNPARSED_ARGUMENTS} GTest::gtest)
    orvo_test_environment(${name})
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
        PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# Adds every immediate subfolder of the current folder that has a CMakeLists.txt.
function(orvo_add_subfolders)
    file(GLOB entries RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT entries)
    foreach(entry ${entries})
        if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${entry} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${entry}/CMakeLists.txt)
            add_subdirectory(${entry})
        endif()
    endforeach()
endfunction()
