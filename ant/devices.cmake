# Device list and the ANT stack's exception class (included by ant/CMakeLists.txt).
add_library(fennick_antdevices STATIC ${CMAKE_CURRENT_LIST_DIR}/AntDevices.cpp)
target_link_libraries(fennick_antdevices PUBLIC fennick_persist fennick_framework)
